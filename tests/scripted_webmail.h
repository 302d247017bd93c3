// A webmail server for the mailbox tests, in both builds: it answers the
// new-account form as the webmail server does (creation switched on, the
// account not yet in its domain) by appending the account's record to the
// user list, with "F-" and the password as the stored form. Hooks let a test
// stop it at the moments a killed call may leave things in.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>

#include "local_server.h"
#include "mail/files/user_list.h"
#include "platform/text.h"
#include "test_support.h"

namespace quorvel::test {

// A record line of the user list, CR LF ended.
inline std::string MailRecordLine(const std::u16string& domain, const std::u16string& box, const std::u16string& name,
                                  const std::u16string& stored) {
    return platform::ToAnsi(*mail::BuildRecord({domain, box, name, u"", stored, 0, 0})) + "\r\n";
}

// The temporary account's record as the webmail server adds it.
inline std::string TemporaryRecordLine(const std::u16string& stored) {
    return MailRecordLine(u"localhost", u"Quorvel", u"Quorvel", stored);
}

class ScriptedWebmail {
public:
    // Run on the server's thread: when a form has arrived (false: it is
    // dropped, unanswered), and when the record is in the list (or was
    // refused) and the answer is about to go. Given before the server runs.
    struct Hooks {
        std::function<bool()> on_arrival;
        std::function<void()> on_answering;
    };

    explicit ScriptedWebmail(std::filesystem::path mail_dir, Hooks hooks = {})
        : dir_(std::move(mail_dir)),
          hooks_(std::move(hooks)),
          server_([this](Socket fd, const std::atomic<bool>& stopping) {
              const std::string request = ReadHttpRequest(fd, stopping);
              if (request.empty()) return;
              ++requests_;
              if (hooks_.on_arrival && !hooks_.on_arrival()) return;
              Answer(request);
              if (hooks_.on_answering) hooks_.on_answering();
              SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
          }) {}

    std::uint16_t port() const { return server_.port(); }
    int requests() const { return requests_; }

    // Lines another writer puts in the list just before the account's record.
    std::string before_record;

private:
    void Answer(const std::string& request) {
        const std::filesystem::path list = dir_ / "App" / "USERLIST.DAT";
        if (ReadBytes(dir_ / "WorldClient" / "Domains.ini").find("NewAccountCreation=Yes") == std::string::npos) return;
        const std::string bytes = ReadBytes(list);
        if (bytes.find(platform::ToAnsi(mail::LookupKey(u"localhost", u"Quorvel"))) != std::string::npos) return;
        const size_t at = request.find("&Pass=");
        if (at == std::string::npos) return;
        const std::string pass = request.substr(at + 6, request.find('&', at + 6) - at - 6);
        WriteBytes(list, bytes + before_record + TemporaryRecordLine(u"F-" + platform::FromAnsi(pass)));
    }

    std::filesystem::path dir_;
    const Hooks hooks_;
    std::atomic<int> requests_{0};
    LocalServer server_;
};

}  // namespace quorvel::test
