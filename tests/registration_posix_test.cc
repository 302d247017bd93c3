// Registration entries in the machine's registry store, and the store itself.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "automation/objects.h"
#include "base/ascii.h"
#include "component/registration.h"
#include "platform/posix/runtime/registry_store.h"
#include "platform/posix/runtime/store_generation.h"
#include "platform/registry.h"
#include "quorvel_interface.h"

namespace {

namespace registry = quorvel::posix::registry;
using quorvel::platform::GetClassesRootValue;

TEST(Registration, WritesTheClassProgIdInterfaceAndTypeLibrary) {
    const std::string module = quorvel::platform::ModulePathForRegistry();
    ASSERT_TRUE(std::filesystem::path(module).is_absolute());
    ASSERT_EQ(quorvel::component::RegisterServer(), S_OK);

    const std::string clsid = quorvel::kClassGuid;
    const std::string iid = quorvel::kInterfaceGuid;
    const std::string libid = quorvel::kLibraryGuid;
    // Lookups ignore case, as on Windows.
    EXPECT_EQ(GetClassesRootValue(quorvel::base::ToLowerAscii("CLSID\\" + clsid + "\\InprocServer32"), ""), module);
    EXPECT_EQ(GetClassesRootValue("CLSID\\" + clsid + "\\InprocServer32", "threadingmodel"), "Apartment");
    EXPECT_EQ(GetClassesRootValue("CLSID\\" + clsid, ""), "SiteManage");
    EXPECT_EQ(GetClassesRootValue("CLSID\\" + clsid + "\\ProgID", ""), "Quorvel.SiteManage");
    EXPECT_EQ(GetClassesRootValue("CLSID\\" + clsid + "\\TypeLib", ""), libid);
    EXPECT_EQ(GetClassesRootValue("quorvel.sitemanage\\CLSID", ""), clsid);
    EXPECT_EQ(GetClassesRootValue("Interface\\" + iid + "\\ProxyStubClsid32", ""),
              "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(GetClassesRootValue("Interface\\" + iid + "\\TypeLib", ""), libid);
    EXPECT_EQ(GetClassesRootValue("Interface\\" + iid + "\\TypeLib", "Version"), "1.0");
    EXPECT_EQ(GetClassesRootValue("TypeLib\\" + libid + "\\1.0", ""), "Quorvel");
    EXPECT_EQ(GetClassesRootValue("TypeLib\\" + libid + "\\1.0\\0\\" + quorvel::platform::TypeLibPlatformKey(), ""),
              module);
    EXPECT_EQ(GetClassesRootValue("TypeLib\\" + libid + "\\1.0\\HELPDIR", ""),
              std::filesystem::path(module).parent_path().string());

    // The surrogate: the class names its AppID, whose empty DllSurrogate is
    // the system's host; a LocalServer32 would take its place.
    EXPECT_EQ(GetClassesRootValue("CLSID\\" + clsid, "AppID"), clsid);
    EXPECT_EQ(GetClassesRootValue("AppID\\" + clsid, "DllSurrogate"), "");
    EXPECT_EQ(GetClassesRootValue("AppID\\" + clsid, ""), "Quorvel.SiteManage");
    EXPECT_FALSE(registry::KeyExists("CLSID\\" + clsid + "\\LocalServer32"));

    ASSERT_EQ(quorvel::component::UnregisterServer(), S_OK);
}

TEST(Registration, UnregisterRemovesEverythingAndOnlyThat) {
    ASSERT_TRUE(registry::SetValue("CLSID\\{00000000-1111-2222-3333-444444444444}\\InprocServer32", "", "other.so"));
    ASSERT_TRUE(registry::SetValue("Quorvel.SiteManageEx\\CLSID", "", "{x}"));
    const std::vector<std::string> before = registry::AllKeys();

    ASSERT_EQ(quorvel::component::RegisterServer(), S_OK);
    const std::size_t registered = registry::AllKeys().size();
    ASSERT_EQ(quorvel::component::RegisterServer(), S_OK);  // again: nothing doubles
    EXPECT_EQ(registry::AllKeys().size(), registered);

    ASSERT_EQ(quorvel::component::UnregisterServer(), S_OK);
    EXPECT_EQ(registry::AllKeys(), before);
    EXPECT_FALSE(registry::KeyExists(std::string("AppID\\") + quorvel::kClassGuid));
    EXPECT_TRUE(registry::KeyExists("AppID"));  // the standard key stays
    EXPECT_EQ(GetClassesRootValue("Quorvel.SiteManageEx\\CLSID", ""), "{x}");
    EXPECT_EQ(quorvel::component::UnregisterServer(), S_OK);  // nothing to remove is no failure

    registry::DeleteTree("CLSID\\{00000000-1111-2222-3333-444444444444}");
    registry::DeleteTree("Quorvel.SiteManageEx");
}

TEST(RegistryStore, TreesMatchWholeNamesOnly) {
    ASSERT_TRUE(registry::SetValue("a_b\\c", "v", "1"));
    ASSERT_TRUE(registry::SetValue("aXb\\c", "v", "2"));
    ASSERT_TRUE(registry::SetValue("A_B", "", "3"));
    EXPECT_TRUE(registry::KeyExists("a_b\\C"));
    EXPECT_EQ(registry::GetValue("A_B\\C", "V"), "1");
    ASSERT_TRUE(registry::SetValue("a_b\\c", "V", "changed"));  // same value, other case
    EXPECT_EQ(registry::GetValue("a_b\\c", "v"), "changed");

    ASSERT_TRUE(registry::DeleteTree("A_b"));
    EXPECT_FALSE(registry::KeyExists("a_b"));
    EXPECT_FALSE(registry::KeyExists("a_b\\c"));
    EXPECT_EQ(registry::GetValue("aXb\\c", "v"), "2");  // '_' is no wildcard
    EXPECT_TRUE(registry::DeleteTree("a_b"));           // already gone
    EXPECT_FALSE(registry::DeleteTree(""));             // never the whole hive
    registry::DeleteTree("aXb");
}

TEST(RegistryStore, ConcurrentWritersAllLand) {
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < 25; ++i) {
                registry::SetValue("Concurrent\\" + std::to_string(t), std::to_string(i), "x");
            }
        });
    }
    for (std::thread& w : writers) w.join();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 25; ++i) {
            EXPECT_EQ(registry::GetValue("Concurrent\\" + std::to_string(t), std::to_string(i)), "x");
        }
    }
    registry::DeleteTree("Concurrent");
}

// The key the store's own tests write: no class of the machine's has it
// (the stand-ins register PROBE, which names match without regard to case).
constexpr char kStoreKey[] = "StoreTest";

// Writes `value` under StoreTest\\v of the database at `file` through a
// connection of its own, as another process would.
void WriteBehind(const std::filesystem::path& file, const std::string& value) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    const std::string sql =
        "UPDATE vals SET value = '" + value + "' WHERE key = '" + kStoreKey + "' AND name = 'v'";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_changes(db), 1);
    sqlite3_close(db);
}

// Reads are kept between calls. A change made by other means than the store
// (a connection of its own, the file replaced by hand) is seen once the file
// is looked at again, as every call of the component has it looked at: even
// commits of the same size within one clock tick, and a database file
// replaced by another of the same version.
TEST(RegistryStore, ReadsSeeChangesMadeByOtherMeansAtTheNextCall) {
    const std::filesystem::path file = registry::StorePath();
    ASSERT_TRUE(registry::SetValue(kStoreKey, "v", "aaaa"));
    EXPECT_EQ(registry::GetValue("storetest", "V"), "aaaa");
    EXPECT_EQ(registry::GetValue("StoreTest\\", "v"), "aaaa");
    for (const char* value : {"bbbb", "cccc", "dddd"}) {
        WriteBehind(file, value);
        registry::LookAtFileAgain();
        EXPECT_EQ(registry::GetValue(kStoreKey, "v"), value);
    }

    // A copy made now and changed on its own reaches the same change counter.
    const std::filesystem::path copy = file.string() + ".copy";
    std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
    WriteBehind(copy, "eeee");
    WriteBehind(file, "ffff");
    registry::LookAtFileAgain();
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), "ffff");
    std::filesystem::rename(copy, file);
    registry::LookAtFileAgain();
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), "eeee");

    // Moved away, and another file put in its place.
    std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
    WriteBehind(copy, "gggg");
    std::filesystem::rename(file, file.string() + ".away");
    std::filesystem::copy_file(copy, file);
    registry::LookAtFileAgain();
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), "gggg");
    std::filesystem::remove(file.string() + ".away");
    std::filesystem::remove(copy);

    ASSERT_TRUE(registry::DeleteTree(kStoreKey));
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), std::nullopt);
}

// Runs `work` in a child process and waits for it; false unless it exited 0.
bool InChild(auto&& work) {
    const pid_t pid = fork();
    if (pid == 0) _exit(work() ? 0 : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Commits through the store, by any process, are seen by the next read
// without a look at the file; in between, reads cost no system call, so a
// change made by other means waits for the next call.
TEST(RegistryStore, CommitsOfOtherProcessesAreSeenByTheNextRead) {
    const std::filesystem::path file = registry::StorePath();
    ASSERT_TRUE(registry::SetValue(kStoreKey, "v", "parent"));
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), "parent");
    ASSERT_TRUE(InChild([] { return registry::SetValue(kStoreKey, "v", "child"); }));
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), "child");

    WriteBehind(file, "behind");
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), "child");  // answered from memory
    registry::LookAtFileAgain();
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), "behind");
    ASSERT_TRUE(registry::DeleteTree(kStoreKey));
}

// The store moved away and made again in its place by another process (the
// new one holds what that process wrote, and the stand-ins' registrations).
TEST(RegistryStore, AStoreMadeAgainInItsPlaceIsSeenByTheNextRead) {
    const std::filesystem::path file = registry::StorePath();
    const std::filesystem::path away = file.string() + ".away";
    ASSERT_TRUE(registry::SetValue(kStoreKey, "v", "old"));
    ASSERT_TRUE(registry::SetValue(kStoreKey, "w", "old"));
    EXPECT_EQ(registry::GetValue(kStoreKey, "w"), "old");
    std::filesystem::rename(file, away);
    ASSERT_TRUE(InChild([] { return registry::SetValue(kStoreKey, "v", "new"); }));
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), "new");
    EXPECT_EQ(registry::GetValue(kStoreKey, "w"), std::nullopt);
    EXPECT_TRUE(registry::GetValue("PROBE\\CLSID", "").has_value());

    // And put back by hand: seen by the next call.
    std::filesystem::rename(away, file);
    registry::LookAtFileAgain();
    EXPECT_EQ(registry::GetValue(kStoreKey, "w"), "old");
    ASSERT_TRUE(registry::DeleteTree(kStoreKey));
}

// A writer that dies in the middle of its turn, after its commit, leaves the
// generation odd: readers look at the file until the next writer, who is not
// held up, and their answers are kept again after it.
TEST(RegistryStore, AWriterThatDiesInItsTurnLeavesNoReaderBlind) {
    const std::filesystem::path file = registry::StorePath();
    ASSERT_TRUE(registry::SetValue(kStoreKey, "v", "before"));
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), "before");
    const pid_t pid = fork();
    if (pid == 0) {
        quorvel::posix::StoreGeneration generation(file.string() + "-generation", 0644);
        const auto turn = generation.BeginCommit();
        if (turn) WriteBehind(file, "died");
        _exit(turn ? 0 : 1);  // the turn is never ended
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), "died");
    WriteBehind(file, "odd");
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), "odd");

    ASSERT_TRUE(registry::SetValue(kStoreKey, "v", "after"));
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), "after");
    WriteBehind(file, "even");
    EXPECT_EQ(registry::GetValue(kStoreKey, "v"), "after");  // kept again
    ASSERT_TRUE(registry::DeleteTree(kStoreKey));
}

// Binds keep what they found in the registry only while nothing is
// committed: a provider unregistered, or registered under another class,
// is seen by the very next bind.
TEST(RegistryStore, BindsFollowTheRegistry) {
    using quorvel::automation::GetObject;
    const auto binds = [] {
        try {
            return GetObject(u"PROBE://a").Get(u"Name").Text() == u"a";
        } catch (const quorvel::StepError&) {
            return false;
        }
    };
    // The stand-ins' registration, as every test process's fresh machine has
    // it; put back however this test ends, for the tests that bind after it.
    const std::optional<std::string> clsid = registry::GetValue("PROBE\\CLSID", "");
    ASSERT_TRUE(clsid.has_value());
    const struct Restore {
        const std::string& clsid;
        ~Restore() { registry::SetValue("PROBE\\CLSID", "", clsid); }
    } restore{*clsid};
    ASSERT_TRUE(binds());
    ASSERT_TRUE(registry::DeleteTree("PROBE"));
    EXPECT_FALSE(binds());
    ASSERT_TRUE(registry::SetValue("PROBE\\CLSID", "", *clsid));
    EXPECT_TRUE(binds());
    ASSERT_TRUE(registry::SetValue("PROBE\\CLSID", "", "{00000000-1111-2222-3333-444444444444}"));
    EXPECT_FALSE(binds());
    ASSERT_TRUE(registry::SetValue("PROBE\\CLSID", "", *clsid));
    EXPECT_TRUE(binds());
}

}  // namespace
