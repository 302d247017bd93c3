// Time of PostFtpSit's ISUSER, ADD and DEL on configuration files of 10, 100
// and 998 accounts, next to the floor of one plain read plus one atomic
// rewrite of the same file, measured in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "ftp/post_ftp_sit.h"
#include "platform/utf8.h"

namespace {

namespace fs = std::filesystem;

fs::path Folder() {
    static const fs::path folder = [] {
        char pattern[] = "/tmp/quorvel-bench-XXXXXX";
        const char* made = mkdtemp(pattern);
        return fs::path(made != nullptr ? made : "/tmp");
    }();
    return folder;
}

fs::path IniOf(int accounts) { return Folder() / std::to_string(accounts) / "ServUDaemon.ini"; }

// A file as the server keeps it: the user list, then about fifteen keys for
// every account.
std::string MakeFile(int accounts) {
    std::string out = "[GLOBAL]\r\nVersion=6.4.0.6\r\nProcessID=2140\r\n[DOMAINS]\r\nDomain1=0.0.0.0||21|Bench|1|0\r\n";
    out += "[Domain1]\r\n";
    for (int k = 1; k <= accounts; ++k) out += "User" + std::to_string(k) + "=user" + std::to_string(k) + "|1|0\r\n";
    for (int k = 1; k <= accounts; ++k) {
        const std::string u = "user" + std::to_string(k);
        out += "[USER=" + u + "|1]\r\nPassword=vk5D44A032652974C3E53644945A95B126\r\nHomeDir=D:\\ftp\\" + u +
               "\r\nRelPaths=1\r\nAccess1=D:\\ftp\\" + u + "|RWAMLCDP\r\nAccess2=D:\\logs\\" + u +
               "|RL\r\nDiskQuota=1|512000|0\r\nMaxNrUsers=5\r\nSpeedLimitUp=65536\r\nSpeedLimitDown=131072\r\n"
               "SessionTimeOut=600\r\nTimeOut=600\r\nEnable=1\r\nNote1=customer " +
               u + "\r\nTimeOutSec=0\r\nQuotaCurrent=0\r\n";
    }
    return out;
}

// Puts the file back as another program would, flushed, so that the timed
// call does not wait behind the write-back of the harness's own bytes.
void Reset(int accounts) {
    fs::create_directories(IniOf(accounts).parent_path());
    const std::string bytes = MakeFile(accounts);
    const int fd = open(IniOf(accounts).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    if (write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size())) fdatasync(fd);
    close(fd);
}

std::int32_t Call(const char16_t* action, const std::u16string& user, int accounts) {
    const std::u16string folder = quorvel::platform::FromUtf8(IniOf(accounts).parent_path().string());
    return quorvel::ftp::PostFtpSit(action, user, folder, u"secret", u"D:\\ftp\\" + user,
                                    u"D:\\ftp\\" + user + u"|RWAMLCDP", 5, 500, 10, 64, 128);
}

void BM_IsUser(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Reset(n);
    const std::u16string last = u"user" + quorvel::platform::FromUtf8(std::to_string(n));
    for (auto _ : state) {
        if (Call(u"ISUSER", last, n) != 0) state.SkipWithError("ISUSER failed");
    }
}

// A domain holds at most 998 accounts, so the largest file that can take one
// more has 997: that is the file ADD is measured on for "998".
void BM_Add(benchmark::State& state) {
    const int n = std::min(static_cast<int>(state.range(0)), 997);
    for (auto _ : state) {
        state.PauseTiming();
        Reset(n);
        state.ResumeTiming();
        if (Call(u"ADD", u"newcomer", n) != 0) state.SkipWithError("ADD failed");
    }
}

void BM_DelFirst(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        Reset(n);
        state.ResumeTiming();
        if (Call(u"DEL", u"user1", n) != 0) state.SkipWithError("DEL failed");
    }
}

// The least any change can cost: read the file, write it beside, flush, rename.
void BM_Floor(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Reset(n);
    const fs::path ini = IniOf(n);
    const fs::path temp = ini.string() + ".tmp";
    for (auto _ : state) {
        std::string bytes;
        {
            std::ifstream in(ini, std::ios::binary);
            std::ostringstream s;
            s << in.rdbuf();
            bytes = s.str();
        }
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            state.SkipWithError("write failed");
        }
        fdatasync(fd);
        close(fd);
        rename(temp.c_str(), ini.c_str());
        benchmark::DoNotOptimize(bytes);
    }
}

// Disk flushes make single runs noisy: each figure is the median of five.
#define QUORVEL_SIZES(b) \
    b->Arg(10)->Arg(100)->Arg(998)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true)
QUORVEL_SIZES(BENCHMARK(BM_Floor));
QUORVEL_SIZES(BENCHMARK(BM_IsUser));
QUORVEL_SIZES(BENCHMARK(BM_Add));
QUORVEL_SIZES(BENCHMARK(BM_DelFirst));

// Keeps every result's time so that the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    void PrintRatios() const {
        std::printf("\nTime of each action over the floor (one read + one atomic rewrite):\n");
        std::printf("%-10s %10s %10s %10s %10s\n", "accounts", "floor us", "ISUSER", "ADD", "DEL");
        for (int n : {10, 100, 998}) {
            const std::string arg = "/" + std::to_string(n);
            const double floor = Time("BM_Floor" + arg);
            auto ratio = [&](const std::string& name) { return floor > 0 ? Time(name + arg) / floor : 0.0; };
            std::printf("%-10d %10.1f %9.2fx %9.2fx %9.2fx\n", n, floor, ratio("BM_IsUser"), ratio("BM_Add"),
                        ratio("BM_DelFirst"));
        }
    }

private:
    double Time(const std::string& name) const {
        const auto it = times_.find(name + "/repeats:5_median");
        return it == times_.end() ? 0 : it->second;
    }
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    setenv("QUORVEL_MACHINE", (Folder() / "machine").c_str(), 0);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    std::error_code ec;
    fs::remove_all(Folder(), ec);
    return 0;
}
