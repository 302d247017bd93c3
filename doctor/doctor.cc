#include "doctor/doctor.h"

#include <optional>

#include "doctor/checks.h"
#include "doctor/report.h"
#include "mail/files/paths.h"
#include "platform/utf8.h"

namespace quorvel::doctor {
namespace {

std::string Usage(std::string_view command) {
    const std::string c(command);
    return "usage: " + c + " [--repair] [--json] [--ftp CFILE]... [--mail MAILDIR]... [--sites] [--accounts]\n"
           "\n"
           "Checks what the component's methods maintain and reports each finding with\n"
           "its file or object, its line or record, what is wrong and what a repair does.\n"
           "  --ftp CFILE     the FTP server's folder, as PostFtpSit takes it ('D:\\Serv-U')\n"
           "  --mail MAILDIR  the mail server's folder, as PostEmail takes it ('D:\\MDaemon')\n"
           "  --sites         the web sites of the IIS directory\n"
           "  --accounts      the groups of the Windows accounts\n"
           "  (none of the four: all of them, the fixed drives searched for the servers' folders)\n"
           "  --repair        put right what has one sound fix, under the methods' locks\n"
           "  --json          one JSON document for monitoring\n"
           "The component's own leftovers (interrupted replacements, intent records,\n"
           "stale locks) are always checked.\n"
           "Exit status: 0 sound, 1 findings, 2 all findings repaired, 64 usage, 69 something\n"
           "could not be read or repaired.\n";
}

struct Options {
    bool repair = false;
    bool json = false;
    bool help = false;
    bool sites = false;
    bool accounts = false;
    std::vector<std::u16string> ftp;
    std::vector<std::u16string> mail;
};

// nullopt, with the message, on a usage error.
std::optional<Options> Parse(const std::vector<std::string>& args, std::string& error) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto folder = [&](const char* name, std::vector<std::u16string>& into) {
            const std::string flag = std::string("--") + name;
            std::string value;
            if (arg == flag) {
                if (i + 1 >= args.size()) {
                    error = flag + " needs a folder";
                    return false;
                }
                value = args[++i];
            } else {
                value = arg.substr(flag.size() + 1);
            }
            if (value.empty()) {
                error = flag + " needs a folder";
                return false;
            }
            into.push_back(platform::FromUtf8(value));
            return true;
        };
        if (arg == "--repair") {
            o.repair = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--sites") {
            o.sites = true;
        } else if (arg == "--accounts") {
            o.accounts = true;
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--ftp" || arg.starts_with("--ftp=")) {
            if (!folder("ftp", o.ftp)) return std::nullopt;
        } else if (arg == "--mail" || arg.starts_with("--mail=")) {
            if (!folder("mail", o.mail)) return std::nullopt;
        } else {
            error = (arg.starts_with("-") ? "unknown option " : "unexpected argument ") + arg;
            return std::nullopt;
        }
    }
    return o;
}

}  // namespace

Outcome Run(const std::vector<std::string>& args, std::string_view command) {
    std::string error;
    std::optional<Options> options = Parse(args, error);
    if (!options) return {kUsage, {}, std::string(command) + ": " + error + "\n" + Usage(command)};
    if (options->help) return {0, Usage(command), {}};

    if (options->ftp.empty() && options->mail.empty() && !options->sites && !options->accounts) {
        ServerFolders found = FindServerFolders();
        options->ftp = std::move(found.ftp);
        options->mail = std::move(found.mail);
        options->sites = options->accounts = true;
    }

    Report report;
    // The files are held to the component's audit trail, when it keeps one.
    const std::u16string log_folder = ComponentLogFolder();
    std::optional<Trail> trail;
    if (!log_folder.empty()) trail = Trail::Load(log_folder + u"\\DllAudit.log");
    Context context{report, options->repair, trail && trail->exists() ? &*trail : nullptr};
    Places places;
    for (const std::u16string& cfile : options->ftp) {
        CheckFtp(cfile, context);
        places.folders.push_back(cfile);
    }
    for (const std::u16string& mail_dir : options->mail) {
        CheckMail(mail_dir, context);
        places.folders.push_back(mail_dir + u"\\App");
        places.folders.push_back(mail_dir + u"\\WorldClient");
        places.guards.push_back(mail::WebmailSettingsPath(mail_dir));
    }
    if (options->sites) CheckSites(context);
    if (options->accounts) CheckAccounts(context);
    places.state = ComponentStateFolder();
    CheckLeftovers(places, context);
    return {report.ExitCode(), options->json ? report.Json() : report.Text(), {}};
}

}  // namespace quorvel::doctor
