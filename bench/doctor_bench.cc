// quorvel doctor on a machine with 10,000 FTP accounts (ten domains of a
// thousand), 100,000 mailboxes and 10,000 sites, each check and the whole
// run (read-only, sound files), next to the floor measured on the same
// machine: the servers' files read once, and one query that reads every
// site's and root's properties from the metabase. The files are also held to
// an audit trail of the calls that made every account and mailbox.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/metabase_floor.h"
#include "doctor/audit_trail.h"
#include "doctor/checks.h"
#include "doctor/doctor.h"
#include "doctor/report.h"
#include "mail/files/user_list.h"
#include "platform/files.h"
#include "platform/text.h"
#include "standins/iis/metabase.h"

namespace {

namespace fs = std::filesystem;
using quorvel::iis::Change;
using quorvel::iis::Properties;
using quorvel::iis::Property;
using quorvel::iis::Text;

constexpr int kDomains = 10;
constexpr int kAccountsPerDomain = 1000;
constexpr int kMailboxes = 100000;
constexpr int kMailDomains = 1000;
constexpr int kSites = 10000;

// QUORVEL_BENCH_MACHINE names a machine folder to make once and keep (for
// profiling the checks without the making of the machine).
const char* KeptMachine() { return std::getenv("QUORVEL_BENCH_MACHINE"); }

fs::path Folder() {
    static const fs::path folder = [] {
        if (KeptMachine() != nullptr) return fs::path(KeptMachine());
        char pattern[] = "/tmp/quorvel-doctor-bench-XXXXXX";
        const char* made = mkdtemp(pattern);
        return fs::path(made != nullptr ? made : "/tmp");
    }();
    return folder;
}
fs::path Drive() { return Folder() / "drives" / "D"; }

Text U16(const std::string& text) { return Text(text.begin(), text.end()); }

// DllAudit.log of the calls that made the accounts and mailboxes, one line each.
std::string g_trail;
constexpr char kTrail[] = "D:\\Quorvel\\DllAudit.log";
void TrailLine(const std::string& call, const std::vector<std::string>& changes) {
    g_trail += "2026/12/7\t5:04:09\t" + call + "\t0\t4711\twww-data";
    for (const std::string& field : changes) g_trail += "\t" + field;
    g_trail += "\r\n";
}

void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

void MakeFtp() {
    std::string ini = "[GLOBAL]\r\nVersion=6.4.0.6\r\n[DOMAINS]\r\n";
    for (int d = 1; d <= kDomains; ++d)
        ini += "Domain" + std::to_string(d) + "=0.0.0.0||21|Domain " + std::to_string(d) + "|" + std::to_string(d % 10) +
               "|0\r\n";
    for (int d = 1; d <= kDomains; ++d) {
        ini += "[Domain" + std::to_string(d % 10) + "]\r\n";
        for (int k = 1; k <= kAccountsPerDomain; ++k)
            ini += "User" + std::to_string(k) + "=user" + std::to_string(d) + "_" + std::to_string(k) + "|1|0\r\n";
    }
    for (int d = 1; d <= kDomains; ++d) {
        for (int k = 1; k <= kAccountsPerDomain; ++k) {
            const std::string name = "user" + std::to_string(d) + "_" + std::to_string(k);
            const std::string ini_path = "D:\\Serv-U\\ServUDaemon.ini";
            const std::string section = "[USER=" + name + "|" + std::to_string(d % 10) + "]";
            TrailLine("PostFtpSit\tADD\t" + name,
                      {ini_path, "[Domain" + std::to_string(d % 10) + "]User" + std::to_string(k), "-", name + "|1|0",
                       ini_path, section + "Password", "-", "***", ini_path, section + "HomeDir", "-",
                       "D:\\ftp\\" + name, ini_path, section + "Access1", "-", "D:\\ftp\\" + name + "|RWAMLCDP",
                       ini_path, "[GLOBAL]ReloadSettings", "-", "True"});
            ini += "[USER=" + name + "|" + std::to_string(d % 10) + "]\r\nPassword=vk5D44A032652974C3E53644945A95B126\r\n"
                   "HomeDir=D:\\ftp\\" + name + "\r\nRelPaths=1\r\nAccess1=D:\\ftp\\" + name +
                   "|RWAMLCDP\r\nDiskQuota=1|512000|0\r\nMaxNrUsers=5\r\nSpeedLimitUp=65536\r\n"
                   "SpeedLimitDown=131072\r\nSessionTimeOut=600\r\nTimeOut=600\r\n";
        }
    }
    Write(Drive() / "Serv-U" / "ServUDaemon.ini", ini);
}

void MakeMail() {
    std::string list;
    list.reserve(static_cast<size_t>(kMailboxes) * 237);
    for (int i = 0; i < kMailboxes; ++i) {
        const std::u16string domain = U16("domain" + std::to_string(i % kMailDomains) + ".example");
        const std::u16string box = U16("box" + std::to_string(i));
        const std::u16string record = *quorvel::mail::BuildRecord(
            {domain, box, u"Name", quorvel::mail::MailboxFolder(u"D:\\MDaemon", domain, box), u"7F3A09C1D2B4E5F60718",
             100, 10240});
        list += quorvel::platform::ToAnsi(record) + "\r\n";
        TrailLine("PostEmail\tADD\tbox" + std::to_string(i) + "@domain" + std::to_string(i % kMailDomains) + ".example",
                  {"D:\\MDaemon\\App\\USERLIST.DAT", "record", "-",
                   quorvel::platform::ToAnsi(quorvel::mail::HidePassword(record))});
    }
    Write(Drive() / "MDaemon" / "App" / "USERLIST.DAT", list);
    std::string domains;
    for (int d = 0; d < kMailDomains; ++d)
        domains += "[domain" + std::to_string(d) + ".example]\r\nIP=10.0.0.1\r\nBind=No\r\nMaxInactive=0\r\n"
                   "MaxMessageAge=0\r\nMaxDeletedIMAPMessageAge=0\r\nRecurseIMAP=No\r\n";
    Write(Drive() / "MDaemon" / "App" / "Domains.dat", domains);
    Write(Drive() / "MDaemon" / "WorldClient" / "Domains.ini", "[Default:Settings]\r\nNewAccountCreation=No\r\nPort=3000\r\n");
}

void MakeSites() {
    quorvel::iis::Tree tree;
    const auto put = [](Properties& p, const char16_t* name, quorvel::iis::Value value) {
        p[quorvel::iis::UpperKey(name)] = Property{name, std::move(value)};
    };
    for (int n = 1; n <= kSites; ++n) {
        const Text site = U16("site" + std::to_string(n) + ".example");
        Properties s, r;
        put(s, u"ServerComment", site);
        put(s, u"ServerBindings", quorvel::iis::TextList{u":80:" + site});
        put(s, u"DefaultDoc", Text(u"index.htm"));
        put(s, u"ServerState", std::int32_t{2});
        put(r, u"Path", U16("D:\\web\\site" + std::to_string(n)));
        put(r, u"AccessRead", true);
        fs::create_directories(Drive() / "web" / ("site" + std::to_string(n)));
        const Text path = U16("W3SVC/" + std::to_string(n));
        tree.Apply({Change::Kind::kCreate, path, u"IIsWebServer", s});
        tree.Apply({Change::Kind::kCreate, path + u"/ROOT", u"IIsWebVirtualDir", r});
    }
    quorvel::iis::MachineStore()->Import(tree);
}

void UseMachine() {
    static bool made = false;
    setenv("QUORVEL_MACHINE", Folder().c_str(), 1);
    if (made || fs::exists(Folder() / "made")) return;
    fs::create_directories(Folder());
    std::ofstream(Folder() / "machine.ini") << "[Machine]\r\nComputerName=BENCH\r\nCodePage=936\r\n";
    MakeFtp();
    MakeMail();
    MakeSites();
    Write(Drive() / "Quorvel" / "DllAudit.log", g_trail);
    g_trail.clear();
    std::ofstream(Folder() / "made") << "";
    made = true;
}

// The servers' files, and with `trail` the audit trail too, read once.
size_t ReadFilesOnce(bool trail) {
    size_t bytes = 0;
    for (const char* file : {"D:\\Serv-U\\ServUDaemon.ini", "D:\\MDaemon\\App\\USERLIST.DAT",
                             "D:\\MDaemon\\App\\Domains.dat", "D:\\MDaemon\\WorldClient\\Domains.ini"})
        bytes += quorvel::platform::ReadFileBytes(file).value_or(std::string()).size();
    if (trail) bytes += quorvel::platform::ReadFileBytes(kTrail).value_or(std::string()).size();
    return bytes;
}

// The floor: each of the servers' files read once.
void BM_FloorReadFiles(benchmark::State& state) {
    UseMachine();
    for (auto _ : state) benchmark::DoNotOptimize(ReadFilesOnce(false));
}

// The same, with the audit trail read once too.
void BM_FloorReadFilesAndTrail(benchmark::State& state) {
    UseMachine();
    for (auto _ : state) benchmark::DoNotOptimize(ReadFilesOnce(true));
}

// The floor of the sites: every property of every site and root in one query.
void BM_FloorReadSites(benchmark::State& state) {
    UseMachine();
    const quorvel::bench::MetabaseQuery metabase(Folder() / "metabase.db");
    for (auto _ : state) {
        const int rows = metabase.Rows("SELECT o.key, p.key, p.value FROM objects o JOIN properties p ON p.object = o.key"
                                       " WHERE o.parent = 'W3SVC' OR o.parent LIKE 'W3SVC/%'",
                                       2, [](const unsigned char* value) { benchmark::DoNotOptimize(value); });
        if (rows < kSites * 5) state.SkipWithError("too few properties");
    }
}

template <typename Check>
void RunCheck(benchmark::State& state, Check&& check) {
    UseMachine();
    for (auto _ : state) {
        quorvel::doctor::Report report;
        quorvel::doctor::Context context{report, false};
        check(context);
        if (report.ExitCode() != quorvel::doctor::kSound) state.SkipWithError(report.Text().substr(0, 300).c_str());
    }
}

void BM_DoctorFtp(benchmark::State& state) {
    RunCheck(state, [](auto& context) { quorvel::doctor::CheckFtp(u"D:\\Serv-U", context); });
}
void BM_DoctorMail(benchmark::State& state) {
    RunCheck(state, [](auto& context) { quorvel::doctor::CheckMail(u"D:\\MDaemon", context); });
}
void BM_DoctorSites(benchmark::State& state) {
    RunCheck(state, [](auto& context) { quorvel::doctor::CheckSites(context); });
}

// The FTP and mail checks held to the trail (110,000 lines), its reading included.
void BM_DoctorFtpMailWithTrail(benchmark::State& state) {
    UseMachine();
    const std::u16string trail_path = quorvel::platform::FromAnsi(kTrail);
    for (auto _ : state) {
        const quorvel::doctor::Trail trail = quorvel::doctor::Trail::Load(trail_path);
        if (!trail.exists()) state.SkipWithError("no trail");
        quorvel::doctor::Report report;
        quorvel::doctor::Context context{report, false, &trail};
        quorvel::doctor::CheckFtp(u"D:\\Serv-U", context);
        quorvel::doctor::CheckMail(u"D:\\MDaemon", context);
        if (report.ExitCode() != quorvel::doctor::kSound) state.SkipWithError(report.Text().substr(0, 300).c_str());
    }
}

// The whole run as an administrator starts it, its drives searched.
void BM_DoctorWholeMachine(benchmark::State& state) {
    UseMachine();
    for (auto _ : state) {
        const quorvel::doctor::Outcome outcome = quorvel::doctor::Run({}, "doctor");
        if (outcome.exit != quorvel::doctor::kSound) state.SkipWithError(outcome.out.substr(0, 300).c_str());
    }
}

BENCHMARK(BM_FloorReadFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorReadFilesAndTrail)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorReadSites)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DoctorFtp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DoctorMail)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DoctorSites)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DoctorFtpMailWithTrail)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DoctorWholeMachine)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    if (KeptMachine() == nullptr) fs::remove_all(Folder(), ec);
    return 0;
}
