// The IIS directory stand-in below COM: binding, typed properties, commits,
// children, site state, applications and backups, and its store across
// processes.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "automation/objects.h"
#include "platform/posix/runtime/store_generation.h"
#include "platform/registry.h"
#include "standins/iis/directory.h"
#include "tests/run_process.h"
#include "tests/iis_test_machine.h"

namespace quorvel::iis {
namespace {

std::int32_t CodeOf(auto&& action) {
    try {
        action();
    } catch (const DirectoryError& error) {
        return error.code();
    }
    return 0;
}

constexpr auto kNotFound = static_cast<std::int32_t>(0x80070003u);
constexpr auto kExists = static_cast<std::int32_t>(0x800700B7u);
constexpr auto kNoBackup = static_cast<std::int32_t>(0x80070002u);

Entry MakeSite(const char16_t* number, const char16_t* comment) {
    Entry service = Entry::Bind(u"IIS://localhost/W3SVC");
    Entry site = service.Create(u"IIsWebServer", number);
    site.Put(u"ServerComment", Text(comment));
    site.SetInfo();
    Entry root = site.Create(u"IIsWebVirtualDir", u"ROOT");
    root.Put(u"Path", Text(u"D:\\web"));
    root.SetInfo();
    return site;
}

class IisDirectory : public ::testing::Test {
protected:
    test::FreshMachine machine;
};

TEST_F(IisDirectory, BindsThisComputerByNameOrLocalhostOnly) {
    EXPECT_EQ(Entry::Bind(u"IIS://WEBHOST").cls(), u"IIsComputer");
    Entry service = Entry::Bind(u"iis://webhost/w3svc");
    EXPECT_EQ(service.cls(), u"IIsWebService");
    EXPECT_EQ(service.ads_path(), u"IIS://webhost/W3SVC");
    EXPECT_TRUE(service.Children().empty());
    EXPECT_EQ(CodeOf([] { Entry::Bind(u"IIS://OTHERHOST/W3SVC"); }), kNotFound);
    EXPECT_EQ(CodeOf([] { Entry::Bind(u"IIS://localhost/W3SVC/1"); }), kNotFound);
    EXPECT_NE(CodeOf([] { Entry::Bind(u"WinNT://localhost"); }), 0);
}

TEST_F(IisDirectory, PropertiesKeepTheirTypeAndAppearAtSetInfo) {
    Entry site = Entry::Bind(u"IIS://localhost/W3SVC").Create(u"IIsWebServer", u"1");
    site.Put(u"ServerComment", Text(u"站点一"));
    site.Put(u"MaxConnections", std::int32_t{-5});
    site.Put(u"AppIsolated", std::int16_t{2});
    site.Put(u"CpuLimitsEnabled", true);
    site.Put(u"ServerBindings", TextList{u":80:a.example", u"", u"tab\there"});
    site.Put(u"ScriptMaps", TextList{});
    EXPECT_EQ(CodeOf([] { Entry::Bind(u"IIS://localhost/W3SVC/1"); }), kNotFound);
    site.SetInfo();

    Entry again = Entry::Bind(u"IIS://LOCALHOST/w3svc/1");
    EXPECT_EQ(again.Get(u"servercomment"), Value(Text(u"站点一")));
    EXPECT_EQ(again.Get(u"MaxConnections"), Value(std::int32_t{-5}));
    EXPECT_EQ(again.Get(u"AppIsolated"), Value(std::int16_t{2}));
    EXPECT_EQ(again.Get(u"CpuLimitsEnabled"), Value(true));
    EXPECT_EQ(again.Get(u"ServerBindings"), Value(TextList{u":80:a.example", u"", u"tab\there"}));
    EXPECT_EQ(again.Get(u"ScriptMaps"), Value(TextList{}));
    EXPECT_EQ(CodeOf([&] { again.Get(u"Never"); }), static_cast<std::int32_t>(0x8000500Du));

    again.Put(u"ServerComment", Text(u"renamed"));
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"ServerComment"), Value(Text(u"站点一")));
    again.SetInfo();
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"ServerComment"), Value(Text(u"renamed")));
}

// Objects bound to one site share what they read; a write of one (Put,
// SetInfo, Start) changes neither the others nor the store's copy until it
// is committed, and the others see it only once they read again.
TEST_F(IisDirectory, BoundObjectsKeepWhatTheyRead) {
    MakeSite(u"1", u"one");
    Entry writer = Entry::Bind(u"IIS://localhost/W3SVC/1");
    Entry reader = Entry::Bind(u"IIS://localhost/W3SVC/1");
    writer.Put(u"ServerComment", Text(u"two"));
    EXPECT_EQ(reader.Get(u"ServerComment"), Value(Text(u"one")));
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"ServerComment"), Value(Text(u"one")));
    writer.SetInfo();
    writer.Start();
    EXPECT_EQ(writer.Get(u"ServerComment"), Value(Text(u"two")));
    EXPECT_EQ(writer.Get(u"ServerState"), Value(std::int32_t{2}));
    EXPECT_EQ(reader.Get(u"ServerComment"), Value(Text(u"one")));
    EXPECT_EQ(reader.Get(u"ServerState"), Value(std::int32_t{4}));
    reader.GetInfo();
    EXPECT_EQ(reader.Get(u"ServerComment"), Value(Text(u"two")));
    EXPECT_EQ(reader.Get(u"ServerState"), Value(std::int32_t{2}));

    // A commit that fails leaves every copy as it was.
    Entry::Bind(u"IIS://localhost/W3SVC").Delete(u"IIsWebServer", u"1");
    reader.Put(u"ServerComment", Text(u"three"));
    EXPECT_EQ(CodeOf([&] { reader.SetInfo(); }), kNotFound);
    EXPECT_EQ(writer.Get(u"ServerComment"), Value(Text(u"two")));
}

TEST_F(IisDirectory, CreateGetObjectAndDeleteOfChildren) {
    MakeSite(u"1", u"one");
    Entry service = Entry::Bind(u"IIS://localhost/W3SVC");
    EXPECT_EQ(CodeOf([&] { service.Create(u"IIsWebServer", u"1"); }), kExists);
    Entry site = Entry::Bind(u"IIS://localhost/W3SVC/1");
    EXPECT_EQ(CodeOf([&] { site.Create(u"IIsWebVirtualDir", u"root"); }), kExists);
    EXPECT_EQ(site.GetObject(u"iiswebvirtualdir", u"root").Get(u"Path"), Value(Text(u"D:\\web")));
    EXPECT_EQ(CodeOf([&] { site.GetObject(u"IIsWebVirtualDir", u"other"); }), kNotFound);

    MakeSite(u"2", u"two");
    service.Create(u"IIsFilters", u"Filters").SetInfo();
    std::vector<Text> names;
    for (Entry& child : service.Children()) names.push_back(child.name() + u":" + child.cls());
    EXPECT_EQ(names, (std::vector<Text>{u"1:IIsWebServer", u"2:IIsWebServer", u"Filters:IIsFilters"}));

    service.Delete(u"IIsWebServer", u"1");
    EXPECT_EQ(CodeOf([] { Entry::Bind(u"IIS://localhost/W3SVC/1/ROOT"); }), kNotFound);
    EXPECT_EQ(CodeOf([&] { service.Delete(u"IIsWebServer", u"1"); }), kNotFound);
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC/2/ROOT").Get(u"Path"), Value(Text(u"D:\\web")));
    EXPECT_EQ(service.Children().size(), 2u);
    // A number freed by a delete can be taken again, with nothing left of the old site.
    Entry reborn = service.Create(u"IIsWebServer", u"1");
    reborn.SetInfo();
    EXPECT_EQ(CodeOf([&] { reborn.Get(u"ServerComment"); }), static_cast<std::int32_t>(0x8000500Du));
}

// Unpaired surrogates would come back as U+FFFD: two sibling names would
// become one and the store could no longer be read. They are refused.
TEST_F(IisDirectory, NamesAndValuesWithUnpairedSurrogatesAreRefused) {
    constexpr auto kInvalidArgument = static_cast<std::int32_t>(0x80070057u);
    const Text high = Text(u"a") + char16_t(0xD800), low = Text(u"a") + char16_t(0xDC01);
    Entry service = Entry::Bind(u"IIS://localhost/W3SVC");
    EXPECT_EQ(CodeOf([&] { service.Create(u"IIsWebServer", high); }), kInvalidArgument);
    EXPECT_EQ(CodeOf([&] { service.Create(u"IIsWebServer", low); }), kInvalidArgument);
    EXPECT_EQ(CodeOf([&] { service.Create(high, u"7"); }), kInvalidArgument);
    Entry site = MakeSite(u"1", u"one");
    EXPECT_EQ(CodeOf([&] { site.Put(u"ServerComment", high); }), kInvalidArgument);
    EXPECT_EQ(CodeOf([&] { site.Put(u"ServerBindings", TextList{u":80:", low}); }), kInvalidArgument);
    EXPECT_EQ(CodeOf([&] { site.Put(high, Text(u"x")); }), kInvalidArgument);
    EXPECT_EQ(CodeOf([&] { Entry::Bind(u"IIS://localhost").Backup(low, -1, 0); }), kInvalidArgument);
    // The same below the objects, for any other way into the store.
    Properties properties{{u"X", Property{u"X", Text(low)}}};
    EXPECT_EQ(CodeOf([&] { MachineStore()->Commit({Change::Kind::kPut, u"W3SVC/1", {}, properties}); }),
              kInvalidArgument);
    EXPECT_EQ(CodeOf([&] { MachineStore()->Commit({Change::Kind::kCreate, u"W3SVC/" + high, u"IIsWebServer", {}}); }),
              kInvalidArgument);

    // Nothing of it was kept; what is well formed still is, outside the BMP too.
    site.Put(u"ServerComment", Text(u"\U0001F600"));
    site.SetInfo();
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"ServerComment"), Value(Text(u"\U0001F600")));
    EXPECT_EQ(service.Children().size(), 1u);
    Entry::Bind(u"IIS://localhost").Backup(u"ok", -1, 0);
    Entry::Bind(u"IIS://localhost").Restore(u"ok", -2, 0);
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"ServerComment"), Value(Text(u"\U0001F600")));
}

TEST_F(IisDirectory, MadeUpPropertiesAreReadOnlyInAnyCase) {
    constexpr auto kNotSupported = static_cast<std::int32_t>(0x80005006u);
    Entry site = MakeSite(u"1", u"one");
    for (const char16_t* made_up : {u"Name", u"CLASS", u"adspath", u"Parent"})
        EXPECT_EQ(CodeOf([&] { site.Put(made_up, Text(u"x")); }), kNotSupported);
    site.SetInfo();
    Entry again = Entry::Bind(u"IIS://localhost/W3SVC/1");
    EXPECT_EQ(again.Get(u"name"), Value(Text(u"1")));
    EXPECT_EQ(again.Get(u"Class"), Value(Text(u"IIsWebServer")));
    EXPECT_EQ(again.Stored(u"Name"), nullptr);
}

TEST_F(IisDirectory, ServerStateAndApplications) {
    MakeSite(u"1", u"one");
    Entry site = Entry::Bind(u"IIS://localhost/W3SVC/1");
    EXPECT_EQ(site.Get(u"ServerState"), Value(std::int32_t{4}));
    site.Start();
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"ServerState"), Value(std::int32_t{2}));
    site.Stop();
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"ServerState"), Value(std::int32_t{4}));

    Entry root = site.GetObject(u"IIsWebVirtualDir", u"ROOT");
    root.AppCreate2(2);
    Entry bound = Entry::Bind(u"IIS://localhost/W3SVC/1/Root");
    EXPECT_EQ(bound.Get(u"AppRoot"), Value(Text(u"/LM/W3SVC/1/ROOT")));
    EXPECT_EQ(bound.Get(u"AppIsolated"), Value(std::int32_t{2}));
}

TEST_F(IisDirectory, BackupsSaveAndRestoreTheWholeMetabase) {
    MakeSite(u"1", u"one");
    Entry computer = Entry::Bind(u"IIS://localhost");
    computer.Backup(u"nightly", kNextVersion, kOverwrite);
    MakeSite(u"2", u"two");
    computer.Backup(u"NIGHTLY", kNextVersion, kOverwrite);
    EXPECT_EQ(computer.EnumBackups(u"nightly").size(), 2u);
    EXPECT_EQ(computer.EnumBackups(u"").front().substr(0, 10), u"nightly\t0\t");
    EXPECT_EQ(CodeOf([&] { computer.Backup(u"nightly", 0, 0); }), kExists);
    computer.Backup(u"nightly", 0, kOverwrite);  // version 0 now holds two sites

    Entry::Bind(u"IIS://localhost/W3SVC").Delete(u"IIsWebServer", u"1");
    Entry site2 = Entry::Bind(u"IIS://localhost/W3SVC/2");
    site2.Put(u"ServerComment", Text(u"changed"));
    site2.SetInfo();

    computer.Restore(u"nightly", kHighestVersion, 0);
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"ServerComment"), Value(Text(u"one")));
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC/2").Get(u"ServerComment"), Value(Text(u"two")));
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC/1/ROOT").Get(u"Path"), Value(Text(u"D:\\web")));

    computer.DeleteBackup(u"nightly", 1);
    computer.Restore(u"nightly", kHighestVersion, 0);  // now version 0
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC").Children().size(), 2u);
    EXPECT_EQ(CodeOf([&] { computer.Restore(u"never", kHighestVersion, 0); }), kNoBackup);
    EXPECT_EQ(CodeOf([&] { computer.Restore(u"nightly", 7, 0); }), kNoBackup);
    EXPECT_EQ(CodeOf([&] { computer.DeleteBackup(u"nightly", 1); }), kNoBackup);
}

TEST(IisMetabase, SerializedTreeReadsBackTheSame) {
    Tree tree;
    Properties properties;
    properties[u"A"] = Property{u"a", TextList{u"x\\y", u"line\r\nbreak", u"\t"}};
    properties[u"ONE"] = Property{u"One", TextList{u""}};
    properties[u"N"] = Property{u"n", std::int16_t{-3}};
    tree.Apply({Change::Kind::kCreate, u"W3SVC/1", u"IIsWebServer", properties});
    tree.Apply({Change::Kind::kCreate, u"W3SVC/1/Root", u"IIsWebVirtualDir", {}});
    const auto parsed = Tree::Parse(tree.Serialize());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Serialize(), tree.Serialize());
    EXPECT_EQ(parsed->Find(u"w3svc/1")->properties->at(u"A").value, properties[u"A"].value);
    EXPECT_EQ(parsed->Find(u"w3svc/1")->properties->at(u"ONE").value, Value(TextList{u""}));
    EXPECT_FALSE(Tree::Parse("QUORVEL-METABASE 1\nO\tW3SVC/1\tIIsWebServer\n"));  // no parent
}

// Writers in several processes at once: every commit survives, and each
// process's copy sees the others' commits.
// What a file holds, to look for a secret in it.
std::string FileBytes(const std::filesystem::path& path) { return test::ReadBytes(path); }

unsigned ModeOf(const std::filesystem::path& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

TEST_F(IisDirectory, SecretsAreSealedAtRestAndReadBackAsWritten) {
    Entry site = MakeSite(u"1", u"secret");
    site.Put(u"AnonymousUserPass", Text(u"Sesame-4711"));
    site.Put(u"AnonymousUserName", Text(u"IUSR_Sesame"));
    site.SetInfo();
    Entry::Bind(u"IIS://localhost").Backup(u"keep", kNextVersion, kOverwrite);
    site.Put(u"AnonymousUserPass", Text(u"Other-0815"));
    site.SetInfo();

    const auto db = machine.path() / "metabase.db";
    EXPECT_EQ(ModeOf(db), 0600u);
    EXPECT_EQ(ModeOf(machine.path() / "metabase.key"), 0600u);
    const std::string bytes = FileBytes(db);
    EXPECT_EQ(bytes.find("Sesame-4711"), std::string::npos);  // neither in the site nor in the backup
    EXPECT_EQ(bytes.find("Other-0815"), std::string::npos);
    EXPECT_NE(bytes.find("IUSR_Sesame"), std::string::npos);  // only secrets are sealed

    EXPECT_EQ(std::get<Text>(Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"anonymoususerpass")), u"Other-0815");
    Entry::Bind(u"IIS://localhost").Restore(u"keep", kHighestVersion, 0);
    EXPECT_EQ(std::get<Text>(Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"AnonymousUserPass")), u"Sesame-4711");
}

// A store written before secrets were sealed: world-readable, with its
// secrets in clear, in its objects and its backups.
// The lists of children are kept and changed in place by later changes; a
// list someone still holds (an enumeration under way) stays as it was given.
TEST(IisMetabase, ChildListsFollowEveryChangeAndHeldOnesStayAsGiven) {
    Tree tree;
    const auto names = [](const ChildList& list) {
        Text all;
        for (const Child& child : *list) all += child.name + u"," + child.cls + u";";
        return all;
    };
    for (const char16_t* n : {u"1", u"2", u"3"}) tree.Apply({Change::Kind::kCreate, Text(u"W3SVC/") + n, u"IIsWebServer", {}});
    tree.Apply({Change::Kind::kCreate, u"W3SVC/2/Root", u"IIsWebVirtualDir", {}});
    EXPECT_EQ(names(tree.Children(u"w3svc")), u"1,IIsWebServer;2,IIsWebServer;3,IIsWebServer;");
    EXPECT_EQ(names(tree.Children(u"W3SVC/2")), u"Root,IIsWebVirtualDir;");

    tree.Apply({Change::Kind::kCreate, u"W3SVC/Four", u"IIsWebServer", {}});
    tree.Apply({Change::Kind::kDelete, u"w3svc/2", {}, {}});
    tree.Apply({Change::Kind::kPut, u"W3SVC/1", {}, {}});
    EXPECT_EQ(names(tree.Children(u"W3SVC")), u"1,IIsWebServer;3,IIsWebServer;Four,IIsWebServer;");
    EXPECT_EQ(tree.Children(u"W3SVC/2"), nullptr);
    tree.Apply({Change::Kind::kCreate, u"W3SVC/2", u"IIsWebServer", {}});
    EXPECT_EQ(names(tree.Children(u"W3SVC/2")), u"");

    const ChildList held = tree.Children(u"W3SVC");
    tree.Apply({Change::Kind::kCreate, u"W3SVC/5", u"IIsWebServer", {}});
    tree.Apply({Change::Kind::kDelete, u"W3SVC/1", {}, {}});
    EXPECT_EQ(names(held), u"1,IIsWebServer;3,IIsWebServer;Four,IIsWebServer;2,IIsWebServer;");
    EXPECT_EQ(names(tree.Children(u"W3SVC")), u"3,IIsWebServer;Four,IIsWebServer;2,IIsWebServer;5,IIsWebServer;");
}

TEST(IisMetabaseStore, AnOlderStoreStillOpensAndIsSealedThen) {
    test::TempDir dir;
    const auto db = dir.path() / "metabase.db";
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
        const std::string backup =
            "QUORVEL-METABASE 1\nO\t\tIIsComputer\nO\tW3SVC\tIIsWebService\nO\tW3SVC/1\tIIsWebServer\n"
            "P\tAnonymousUserPass\t0\tBackup-Secret-1\n";
        const std::string sql =
            "CREATE TABLE objects (key TEXT PRIMARY KEY, parent TEXT NOT NULL, name TEXT NOT NULL,"
            " class TEXT NOT NULL, seq INTEGER NOT NULL);"
            "CREATE TABLE properties (object TEXT NOT NULL, key TEXT NOT NULL, name TEXT NOT NULL,"
            " type INTEGER NOT NULL, value TEXT NOT NULL, PRIMARY KEY (object, key)) WITHOUT ROWID;"
            "CREATE TABLE backups (key TEXT NOT NULL, version INTEGER NOT NULL, name TEXT NOT NULL,"
            " made TEXT NOT NULL, data TEXT NOT NULL, PRIMARY KEY (key, version));"
            "INSERT INTO objects VALUES ('', '', '', 'IIsComputer', 1), ('W3SVC', '', 'W3SVC', 'IIsWebService', 2),"
            " ('W3SVC/1', 'W3SVC', '1', 'IIsWebServer', 3);"
            "INSERT INTO properties VALUES ('W3SVC/1', 'ANONYMOUSUSERPASS', 'AnonymousUserPass', 0, 'Old-Secret-1'),"
            " ('W3SVC/1', 'SERVERCOMMENT', 'ServerComment', 0, 'old');"
            "INSERT INTO backups VALUES ('OLD', 0, 'old', '2020-01-01 00:00:00', '" + backup + "');"
            "PRAGMA user_version = 1;";
        ASSERT_EQ(sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(raw);
    }
    chmod(db.c_str(), 0644);
    test::WriteBytes(dir.path() / "machine.ini", "[Machine]\r\nComputerName=WEBHOST\r\n");
    const char* old = std::getenv("QUORVEL_MACHINE");
    const std::string saved = old != nullptr ? old : "";
    setenv("QUORVEL_MACHINE", dir.path().c_str(), 1);

    EXPECT_EQ(std::get<Text>(Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"AnonymousUserPass")), u"Old-Secret-1");
    EXPECT_EQ(ModeOf(db), 0600u);
    const std::string bytes = FileBytes(db);
    EXPECT_EQ(bytes.find("Old-Secret-1"), std::string::npos);
    EXPECT_EQ(bytes.find("Backup-Secret-1"), std::string::npos);
    Entry::Bind(u"IIS://localhost").Restore(u"old", kHighestVersion, 0);
    EXPECT_EQ(std::get<Text>(Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"AnonymousUserPass")), u"Backup-Secret-1");
    setenv("QUORVEL_MACHINE", saved.c_str(), 1);
}

TEST_F(IisDirectory, ConcurrentWritersInOtherProcessesLoseNothing) {
    Entry::Bind(u"IIS://localhost/W3SVC");  // the store exists before the fork
    constexpr int kWriters = 3;
    constexpr int kSites = 8;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = fork();
        if (pid == 0) {
            int failures = 0;
            for (int n = 0; n < kSites; ++n) {
                const std::string name = std::to_string(w * 100 + n);
                failures += CodeOf([&] { MakeSite(Text(name.begin(), name.end()).c_str(), u"x"); }) != 0;
            }
            _exit(failures);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC").Children().size(), static_cast<size_t>(kWriters * kSites));
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC/207/ROOT").Get(u"Path"), Value(Text(u"D:\\web")));
}

// The copy in memory follows commits of other processes at the very next
// bind: one by the host, one by a writer that died in the middle of its turn
// (after its commit), and a store moved away and made again in its place.
TEST_F(IisDirectory, BindsSeeWhatOtherProcessesDidToTheStore) {
    MakeSite(u"1", u"before");
    const auto comment = [] { return Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"ServerComment"); };
    EXPECT_EQ(comment(), Value(Text(u"before")));

    const test::ProcessResult set =
        test::RunProcess({QUORVEL_HOST_PATH, "adsi", "set", "IIS://localhost/W3SVC/1", "ServerComment", "by host"});
    ASSERT_EQ(set.exit_code, 0) << set.err;
    EXPECT_EQ(comment(), Value(Text(u"by host")));

    const auto db = machine.path() / "metabase.db";
    const pid_t pid = fork();
    if (pid == 0) {
        posix::StoreGeneration generation(db.string() + "-generation", 0600);
        const auto turn = generation.BeginCommit();
        sqlite3* raw = nullptr;
        const bool done = turn && sqlite3_open(db.c_str(), &raw) == SQLITE_OK &&
                          sqlite3_exec(raw,
                                       "UPDATE properties SET value = 'died' WHERE object = 'W3SVC/1'"
                                       " AND key = 'SERVERCOMMENT'",
                                       nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(raw);
        _exit(done ? 0 : 1);  // the turn is never ended
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(comment(), Value(Text(u"died")));
    MakeSite(u"2", u"after");  // the next writer is not held up
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC").Children().size(), 2u);

    std::filesystem::rename(db, db.string() + ".away");
    const test::ProcessResult made = test::RunProcess(
        {QUORVEL_HOST_PATH, "adsi", "call", "IIS://localhost/W3SVC", "Delete", "IIsWebServer", "9"});
    EXPECT_NE(made.exit_code, 0);  // nothing to delete in the new, empty store
    EXPECT_EQ(CodeOf(comment), kNotFound);
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC").Children().size(), 0u);
}

// The whole machine folder moved away and made again at its path by another
// process, with a new registry and metabase and their generations: a call
// that begins after it binds what is there now, through the registry and the
// provider, however much the process kept of the old ones.
TEST_F(IisDirectory, AMachineFolderMadeAgainIsSeenByTheNextCall) {
    const auto comment = [] {
        return automation::GetObject(u"IIS://localhost/W3SVC/1").Get(u"ServerComment").Text();
    };
    MakeSite(u"1", u"old");
    platform::CheckClassesRootAgain();
    EXPECT_EQ(comment(), u"old");
    EXPECT_EQ(comment(), u"old");

    const std::filesystem::path away = machine.path().string() + ".away";
    std::filesystem::rename(machine.path(), away);
    std::filesystem::create_directory(machine.path());
    std::filesystem::copy_file(away / "machine.ini", machine.path() / "machine.ini");
    const pid_t pid = fork();
    if (pid == 0) {
        try {
            MakeSite(u"1", u"remade");
        } catch (...) {
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    platform::CheckClassesRootAgain();
    EXPECT_EQ(comment(), u"remade");
    // Here, below the provider, the store is told as a provider's class object is.
    LookAtStoreAgain();
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC/1").Get(u"ServerComment"), Value(Text(u"remade")));
    // Commits of this process go to the new store too.
    MakeSite(u"2", u"second");
    EXPECT_EQ(comment(), u"remade");
    EXPECT_EQ(Entry::Bind(u"IIS://localhost/W3SVC").Children().size(), 2u);
    std::filesystem::remove_all(away);
}

}  // namespace
}  // namespace quorvel::iis
