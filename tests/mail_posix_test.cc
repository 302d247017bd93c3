// The webmail password lookup against a scripted server and the webmail
// stand-in; many processes on one user list; processes killed mid-call;
// backups taken while mailboxes are added.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "backup/backup_sit.h"
#include "mail/files/user_list.h"
#include "mail/get_mail_pass.h"
#include "mail/post_email.h"
#include "platform/file_lock.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "scripted_webmail.h"
#include "test_support.h"
#include "tools/webmail/new_account.h"

namespace quorvel::mail {
namespace {

using test::ReadBytes;
using test::WriteBytes;

std::string Ansi(std::u16string_view text) { return platform::ToAnsi(text); }

std::string RecordLine(const std::u16string& domain, const std::u16string& box, const std::u16string& stored) {
    return Ansi(*BuildRecord({domain, box, u"", u"", stored, 0, 0})) + "\r\n";
}

// A mail server folder: settings with the port, an (empty) user list.
class MailFolder {
public:
    MailFolder() {
        std::filesystem::create_directories(dir_ / "App");
        std::filesystem::create_directories(dir_ / "WorldClient");
        WriteBytes(list(), "");
        SetPort(1);
    }
    void SetPort(int port, const std::string& creation = "No") const {
        WriteBytes(settings(), "[Default:Settings]\r\nNewAccountCreation=" + creation +
                                   "\r\nPort=" + std::to_string(port) + "\r\n");
    }
    const std::filesystem::path& path() const { return dir_.path(); }
    std::filesystem::path list() const { return dir_ / "App" / "USERLIST.DAT"; }
    std::filesystem::path settings() const { return dir_ / "WorldClient" / "Domains.ini"; }
    bool CreationOff() const { return ReadBytes(settings()).find("NewAccountCreation=No\r\n") != std::string::npos; }
    std::u16string u16() const { return dir_.u16(); }
    std::string ansi() const { return Ansi(dir_.u16()); }

private:
    test::TempDir dir_;
};

// An HTTP server in this process, answering with the given status and
// running `on_request` before it answers.
class ScriptedServer {
public:
    explicit ScriptedServer(int status, std::function<void(const httplib::Request&)> on_request) {
        server_.Post("/WorldClient.dll", [=](const httplib::Request& request, httplib::Response& response) {
            on_request(request);
            response.status = status;
            response.set_content("page", "text/html");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~ScriptedServer() {
        server_.stop();
        thread_.join();
    }
    int port() const { return port_; }

private:
    httplib::Server server_;
    int port_ = -1;
    std::thread thread_;
};

TEST(GetMailPass, SendsTheFormAndTakesTheTemporaryRecordBackOut) {
    MailFolder mail;
    const std::string other = RecordLine(u"example.com", u"info", u"OTHERFORM");
    WriteBytes(mail.list(), other);
    httplib::Request seen;
    std::string creation_during_request;
    ScriptedServer server(500, [&](const httplib::Request& request) {
        seen = request;
        creation_during_request = ReadBytes(mail.settings());
        // The webmail server appends the temporary account (stored form, 20 characters).
        WriteBytes(mail.list(), other + test::TemporaryRecordLine(u"STORED FORM   "));
    });
    mail.SetPort(server.port(), "Yes");

    EXPECT_EQ(GetMailPass(u"127.0.0.1", mail.u16(), u"p&=+% 口"), u"STORED FORM         ");
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.path, "/WorldClient.dll");
    EXPECT_EQ(seen.version, "HTTP/1.1");
    EXPECT_EQ(seen.get_header_value("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(seen.get_header_value("User-Agent"), "http generic");
    const std::string body =
        "View=NewUser&Finished=Yes&User=Quorvel&FullName=Quorvel&Pass=p%26%3D%2B%25%20%BF%DA&ConfirmPass=p%26%3D%2B%25%20%BF%DA";
    EXPECT_EQ(seen.body, body);
    EXPECT_EQ(seen.get_header_value("Content-Length"), std::to_string(body.size()));
    EXPECT_NE(creation_during_request.find("NewAccountCreation=Yes"), std::string::npos);
    EXPECT_NE(ReadBytes(mail.settings()).find("NewAccountCreation=No"), std::string::npos);
    EXPECT_EQ(ReadBytes(mail.list()), other);
    EXPECT_TRUE(std::filesystem::exists(mail.list().parent_path() / "UserList.sem"));
}

TEST(GetMailPass, ARefusedFormRemovesNothing) {
    MailFolder mail;
    const std::string other = RecordLine(u"example.com", u"info", u"OTHERFORM");
    WriteBytes(mail.list(), other);
    ScriptedServer server(200, [](const httplib::Request&) {});
    mail.SetPort(server.port(), "Yes");
    EXPECT_EQ(GetMailPass(u"127.0.0.1", mail.u16(), u"pw"), u"");
    EXPECT_EQ(ReadBytes(mail.list()), other);
    EXPECT_NE(ReadBytes(mail.settings()).find("NewAccountCreation=No"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(mail.list().parent_path() / "UserList.sem"));
    // A port that is not a number sends nothing and still switches creation off.
    WriteBytes(mail.settings(), "[Default:Settings]\r\nNewAccountCreation=Yes\r\nPort=web\r\n");
    EXPECT_EQ(GetMailPass(u"127.0.0.1", mail.u16(), u"pw"), u"");
    EXPECT_NE(ReadBytes(mail.settings()).find("NewAccountCreation=No"), std::string::npos);
}

TEST(WebmailStandIn, AppendsOneRecordOrRefusesWithoutWriting) {
    MailFolder mail;
    const std::string form = "View=NewUser&Finished=Yes&User=bob&FullName=Bob+B&Pass=a%26b&ConfirmPass=a%26b";
    EXPECT_FALSE(webmail::NewAccount(mail.ansi(), form).created);  // creation off
    mail.SetPort(1, "Yes");
    const auto answer = webmail::NewAccount(mail.ansi(), form);
    EXPECT_TRUE(answer.created) << answer.page;
    const std::u16string stored = webmail::StoredForm(u"a&b");
    EXPECT_EQ(stored.size(), 20u);
    EXPECT_EQ(stored, webmail::StoredForm(u"a&b"));
    EXPECT_NE(stored, webmail::StoredForm(u"a&c"));
    const std::string line = Ansi(*BuildRecord(
        {u"localhost", u"bob", u"Bob B", MailboxFolder(mail.u16(), u"localhost", u"bob"), stored, 0, 0}));
    EXPECT_EQ(ReadBytes(mail.list()), line + "\r\n");

    for (const std::string& refused : {
             form,  // exists
             std::string("View=NewUser&Finished=Yes&User=carl&FullName=C&Pass=a&ConfirmPass=b"),
             std::string("View=NewUser&Finished=Yes&User=carl&FullName=C&Pass=a"),
             std::string("View=NewUser&Finished=Yes&User=carl&FullName=C%0D%0A&Pass=a&ConfirmPass=a"),
             std::string("View=NewUser&Finished=Yes&User=carl&FullName=C&Pass=%zz&ConfirmPass=%zz"),
             std::string("garbage"),
         }) {
        EXPECT_FALSE(webmail::NewAccount(mail.ansi(), refused).created) << refused;
    }
    EXPECT_EQ(ReadBytes(mail.list()), line + "\r\n");
}

// The list is changed as the mailbox methods change it: a missing one is
// made by the first account, an unended last line is ended, the other
// records stay as they were.
TEST(WebmailStandIn, AddsTheRecordToAListAsItIsOrMakesOne) {
    MailFolder mail;
    mail.SetPort(1, "Yes");
    std::filesystem::remove(mail.list());
    const std::string form = "View=NewUser&Finished=Yes&User=bob&FullName=Bob&Pass=pw&ConfirmPass=pw";
    ASSERT_TRUE(webmail::NewAccount(mail.ansi(), form).created);
    const std::string bob = ReadBytes(mail.list());
    EXPECT_EQ(bob.size(), 237u);

    const std::string other = RecordLine(u"example.com", u"info", u"PW");
    WriteBytes(mail.list(), other.substr(0, other.size() - 2));  // without its line end
    ASSERT_TRUE(webmail::NewAccount(mail.ansi(), form).created);
    EXPECT_EQ(ReadBytes(mail.list()), other + bob);
}

// `quorvel webmail` as its own process.
class WebmailProcess {
public:
    explicit WebmailProcess(const std::string& mail_dir) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            execl(QUORVEL_HOST_PATH, "quorvel", "webmail", "--mail-dir", mail_dir.c_str(), "--port", "0", nullptr);
            _exit(127);
        }
        close(fds[1]);
        out_ = fdopen(fds[0], "r");
        char line[128] = {};
        if (out_ != nullptr && std::fgets(line, sizeof line, out_) != nullptr) {
            const std::string text = line;
            if (text.rfind("listening on 127.0.0.1:", 0) == 0) port_ = std::stoi(text.substr(23));
        }
    }
    ~WebmailProcess() {
        if (pid_ > 0 && status_ < 0) Stop();
        if (out_ != nullptr) std::fclose(out_);
    }
    int port() const { return port_; }
    // SIGTERM; the exit status.
    int Stop() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
    }

private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    int port_ = -1;
    int status_ = -1;
};

// PostEmail through the real lookup.
std::int32_t AddThroughWebmail(const MailFolder& mail, const std::u16string& box, const std::u16string& password) {
    return PostEmail(u"ADD", mail.u16(), u"example.com", box, u"127.0.0.1", u"", password, 0, 0,
                     [](const std::u16string& a, const std::u16string& d, const std::u16string& w) {
                         return GetMailPass(a, d, w);
                     });
}

std::u16string AdderBox(int p, int i) { return platform::FromUtf8("p" + std::to_string(p) + "m" + std::to_string(i)); }

// Processes that each add `each` mailboxes through the webmail server,
// AdderBox(p, i) with the password "pw" and the box; each exits with the
// number of its adds that failed.
std::vector<pid_t> StartAdders(const MailFolder& mail, int processes, int each) {
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t pid = fork();
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < each; ++i)
                if (AddThroughWebmail(mail, AdderBox(p, i), u"pw" + AdderBox(p, i)) != 0) ++failures;
            _exit(failures);
        }
        EXPECT_GT(pid, 0);
        if (pid > 0) children.push_back(pid);
    }
    return children;
}

// Every adder's mailbox is there, with the stand-in's stored form of its own password.
void ExpectEveryAdderWithItsOwnPassword(const UserList& list, int processes, int each) {
    for (int p = 0; p < processes; ++p) {
        for (int i = 0; i < each; ++i) {
            const auto found = list.FindLast(LookupKey(u"example.com", AdderBox(p, i)));
            ASSERT_TRUE(found) << platform::ToUtf8(AdderBox(p, i));
            EXPECT_EQ(list.Text(*found).substr(kPasswordPosition, kPasswordWidth),
                      webmail::StoredForm(u"pw" + AdderBox(p, i)));
        }
    }
    EXPECT_TRUE(list.FindAccount(u"Quorvel", u"Quorvel").empty());
}

TEST(MailConcurrency, ProcessesAddingThroughTheWebmailServerLoseNothing) {
    MailFolder mail;
    WebmailProcess webmail(Ansi(mail.u16()));
    ASSERT_GT(webmail.port(), 0);
    mail.SetPort(webmail.port());
    const std::string seed = RecordLine(u"example.com", u"seed", u"SEEDFORM");
    WriteBytes(mail.list(), seed);

    constexpr int kProcesses = 4;
    constexpr int kEach = 6;
    for (const pid_t pid : StartAdders(mail, kProcesses, kEach)) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "failed adds: " << WEXITSTATUS(status);
    }
    const UserList list(ReadBytes(mail.list()));
    EXPECT_EQ(list.size(), static_cast<size_t>(1 + kProcesses * kEach));
    EXPECT_EQ(list.line(0), seed.substr(0, seed.size() - 2));
    ExpectEveryAdderWithItsOwnPassword(list, kProcesses, kEach);
    EXPECT_EQ(webmail.Stop(), 0);
}

TEST(MailConcurrency, AProcessKilledAtAnyMomentLeavesAWholeList) {
    MailFolder mail;
    constexpr int kRecords = 3000;
    std::string bytes;
    for (int n = 0; n < kRecords; ++n)
        bytes += RecordLine(u"example.com", platform::FromUtf8("user" + std::to_string(n)), u"FORM");
    WriteBytes(mail.list(), bytes);
    const size_t line_size = RecordLine(u"example.com", u"x", u"FORM").size();
    std::mt19937 random(42);
    for (int round = 0; round < 12; ++round) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0;; ++i) {
                const std::u16string action = i % 2 == 0 ? u"ADD" : u"DEL";
                PostEmail(action, mail.u16(), u"example.com", u"churn", u"", u"", u"", 0, 0,
                          [](const std::u16string&, const std::u16string&, const std::u16string&) {
                              return std::u16string(u"FORM");
                          });
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        const std::string now = ReadBytes(mail.list());
        ASSERT_EQ(now.size() % line_size, 0u) << "round " << round;
        const size_t lines = now.size() / line_size;
        ASSERT_TRUE(lines == kRecords || lines == kRecords + 1) << lines;
        ASSERT_EQ(now.compare(0, bytes.size(), bytes), 0);
    }
    // The lock died with the killed processes.
    EXPECT_EQ(PostEmail(u"ADD", mail.u16(), u"example.com", u"after", u"", u"", u"", 0, 0,
                        [](const std::u16string&, const std::u16string&, const std::u16string&) {
                            return std::u16string(u"FORM");
                        }),
              0);
}


// A PostEmail in a child process, killed with SIGKILL at a moment of its
// lookup that the test holds it at; then the next call, in this process.
TEST(MailKilled, ARealKillAtEachMomentOfTheLookupThenTheNextCall) {
    enum Moment { kFormArrived, kRecordAppended, kRecordNotRemoved };
    for (const Moment moment : {kFormArrived, kRecordAppended, kRecordNotRemoved}) {
        SCOPED_TRACE(moment);
        MailFolder mail;
        const std::string other = RecordLine(u"example.com", u"info", u"INFOFORM");
        WriteBytes(mail.list(), other);
        // The child first, so that it starts with this process's one thread.
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            char byte = 0;
            if (read(go[0], &byte, 1) != 1) _exit(2);
            AddThroughWebmail(mail, u"victim", u"killed");
            _exit(0);
        }
        close(go[0]);

        // The first request is held until the kill; the next call's are not.
        std::promise<void> held, release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> first{true};
        auto hold = [&] {
            if (!first.exchange(false)) return false;
            held.set_value();
            released.wait();
            return true;
        };
        // Killed before the server had the form, or with its record appended
        // (before or after the answer).
        test::ScriptedWebmail::Hooks hooks;
        if (moment == kFormArrived) hooks.on_arrival = [&] { return !hold(); };
        if (moment != kFormArrived) hooks.on_answering = [&] { hold(); };
        test::ScriptedWebmail webmail(mail.path(), std::move(hooks));
        mail.SetPort(webmail.port());
        ASSERT_EQ(write(go[1], "g", 1), 1);
        close(go[1]);
        held.get_future().wait();
        std::optional<platform::FileLock> list_lock;
        if (moment == kRecordNotRemoved) {
            // The child gets its answer, switches creation off and waits for the list.
            list_lock.emplace(Ansi(mail.u16() + u"\\App\\USERLIST.DAT"));
            release.set_value();
            while (!mail.CreationOff()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        if (moment != kRecordNotRemoved) release.set_value();
        list_lock.reset();

        // What the kill left.
        const bool record_left = moment != kFormArrived;
        EXPECT_EQ(mail.CreationOff(), moment == kRecordNotRemoved);
        EXPECT_EQ(ReadBytes(mail.list()), other + (record_left ? test::TemporaryRecordLine(u"F-killed") : ""));

        test::LogWatch log;
        EXPECT_EQ(AddThroughWebmail(mail, u"new", u"fresh"), 0);
        const Mailbox added{u"example.com", u"new", u"", MailboxFolder(mail.u16(), u"example.com", u"new"), u"F-fresh"};
        EXPECT_EQ(ReadBytes(mail.list()), other + Ansi(*BuildRecord(added)) + "\r\n");
        EXPECT_TRUE(mail.CreationOff());
        std::vector<std::string> messages;
        for (const std::string& line : log.NewLines()) messages.push_back(test::MessageOf(line));
        EXPECT_EQ(messages, record_left ? std::vector<std::string>{"错误号：5，错误源：Mail软件 ，错误描述：已删除中断调用遗留的临时帐号"}
                                        : std::vector<std::string>{});
    }
}

// Backups of the mail server's files taken while other processes add
// mailboxes through the webmail stand-in: none holds a temporary record, and
// every mailbox gets its own password.
TEST(MailConcurrency, BackupsTakenDuringMailboxCallsNeverHoldTheTemporaryRecord) {
    MailFolder mail;
    WriteBytes(mail.path() / "App" / "Domains.dat", "[example.com]\r\nIP=1.2.3.4\r\n");
    const test::TempDir bak;
    WebmailProcess webmail(Ansi(mail.u16()));
    ASSERT_GT(webmail.port(), 0);
    mail.SetPort(webmail.port());

    constexpr int kProcesses = 2;
    constexpr int kEach = 8;
    const std::vector<pid_t> children = StartAdders(mail, kProcesses, kEach);
    const std::string temporary = Ansi(LookupKey(u"localhost", u"Quorvel"));
    int backups = 0, holding = 0;
    std::vector<int> statuses(children.size(), -1);
    for (bool running = true; running;) {
        const std::u16string name = platform::FromUtf8("b" + std::to_string(backups++));
        EXPECT_EQ(backup::BackupSit(u"BACKUP", 2, name, mail.u16(), bak.u16()), 0);
        if (ReadBytes(bak / ("2_U_" + platform::ToUtf8(name) + ".bak")).find(temporary) != std::string::npos) ++holding;
        running = false;
        for (size_t c = 0; c < children.size(); ++c) {
            if (statuses[c] < 0 && waitpid(children[c], &statuses[c], WNOHANG) != children[c]) {
                statuses[c] = -1;
                running = true;
            }
        }
    }
    for (const int status : statuses)
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "failed adds: " << WEXITSTATUS(status);
    EXPECT_EQ(holding, 0) << "of " << backups << " backups";
    const UserList list(ReadBytes(mail.list()));
    EXPECT_EQ(list.size(), static_cast<size_t>(kProcesses * kEach));
    ExpectEveryAdderWithItsOwnPassword(list, kProcesses, kEach);
    EXPECT_EQ(webmail.Stop(), 0);
}

}  // namespace
}  // namespace quorvel::mail
