// Time of PostFtpSit's ISUSER, ADD and DEL of the first account on
// configuration files of 10, 100 and 998 accounts, next to the floor of one
// plain read plus one atomic rewrite of the same file, measured in the same
// run. Built in both builds: the Windows one runs under Wine
// (scripts/bench-windows.sh). Each figure is the median of five runs; ADD
// and DEL alternate with the floor call by call.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/flushed_file.h"
#include "bench/servu_file.h"
#include "ftp/post_ftp_sit.h"

namespace {

namespace fs = std::filesystem;

fs::path Folder() {
    static const fs::path folder = [] {
        std::random_device rd;
        fs::path made = fs::temp_directory_path() / ("quorvel-bench-" + std::to_string(rd()));
        fs::create_directories(made);
        return made;
    }();
    return folder;
}

fs::path IniOf(int accounts) { return Folder() / std::to_string(accounts) / "ServUDaemon.ini"; }

// Puts the file back as another program would, flushed, so that the timed
// call does not wait behind the write-back of the harness's own bytes.
void Reset(int accounts) {
    fs::create_directories(IniOf(accounts).parent_path());
    quorvel::bench::WriteFlushed(IniOf(accounts), quorvel::bench::ServUFile(accounts));
}

std::int32_t Call(const char16_t* action, const std::u16string& user, int accounts) {
    const std::u16string folder = IniOf(accounts).parent_path().u16string();
    return quorvel::ftp::PostFtpSit(action, user, folder, u"secret", u"D:\\ftp\\" + user,
                                    u"D:\\ftp\\" + user + u"|RWAMLCDP", 5, 500, 10, 64, 128);
}

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

bool g_failed = false;

// The least any change can cost: read the file, write it beside, flush, rename.
bool Floor(int accounts) {
    const fs::path ini = IniOf(accounts);
    std::ifstream in(ini, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    in.close();
    const fs::path temp = ini.string() + ".tmp";
    return quorvel::bench::WriteFlushed(temp, bytes.str()) && quorvel::bench::RenameOver(temp, ini);
}

// Microseconds per call of `body`, the median of five runs; `setup` runs
// before each call, untimed.
template <typename Setup, typename Body>
double Median(Setup setup, Body body) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
        double total = 0;
        int calls = 0;
        // At least three calls, and about a fifth of a second of them.
        while (calls < 3 || (total < 200000 && calls < 500)) {
            setup();
            const auto start = Clock::now();
            if (!body()) g_failed = true;
            total += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
            ++calls;
        }
        runs.push_back(total / calls);
    }
    std::sort(runs.begin(), runs.end());
    return runs[2];
}

// A change beside the floor on the same file, each call of one followed by a
// call of the other, so that both meet the same disk: a machine busy with
// other work moves the flush that dominates both alike. Microseconds per
// call of each and the ratio, the medians of five runs.
struct Paired {
    double floor, action, ratio;
};

template <typename Setup, typename Body>
Paired Against(int accounts, Setup setup, Body body) {
    using Clock = std::chrono::steady_clock;
    auto micros = [](Clock::time_point since) {
        return std::chrono::duration<double, std::micro>(Clock::now() - since).count();
    };
    std::vector<double> floors, actions, ratios;
    for (int run = 0; run < 5; ++run) {
        double floor = 0, action = 0;
        int calls = 0;
        while (calls < 3 || (floor + action < 400000 && calls < 500)) {
            setup();
            auto start = Clock::now();
            if (!Floor(accounts)) g_failed = true;
            floor += micros(start);
            start = Clock::now();
            if (!body()) g_failed = true;
            action += micros(start);
            ++calls;
        }
        floors.push_back(floor / calls);
        actions.push_back(action / calls);
        ratios.push_back(action / floor);
    }
    for (auto* figures : {&floors, &actions, &ratios}) std::sort(figures->begin(), figures->end());
    return {floors[2], actions[2], ratios[2]};
}

}  // namespace

int main() {
#ifndef _WIN32
    setenv("QUORVEL_MACHINE", (Folder() / "machine").c_str(), 0);
    // The logs (a line per call) go with the rest, not into the build tree.
    setenv("QUORVEL_LOG_FOLDER", Folder().c_str(), 0);
#endif
    std::printf("%-10s %12s %12s %12s %12s   (microseconds per call, median of five runs)\n", "accounts", "floor",
                "ISUSER", "ADD", "DEL first");
    struct Row {
        int accounts;
        double floor, isuser;
        Paired add, del;
    };
    std::vector<Row> rows;
    for (int n : {10, 100, 998}) {
        Row row{n, 0, 0, {}, {}};
        Reset(n);
        const std::u16string last = U16("user" + std::to_string(n));
        row.isuser = Median([] {}, [&] { return Call(u"ISUSER", last, n) == 0; });
        // A domain holds at most 998 accounts, so the largest file that can
        // take one more has 997: that is the file ADD is measured on for 998.
        const int add_on = std::min(n, 997);
        Reset(add_on);
        row.add = Against(add_on, [&] { Reset(add_on); }, [&] { return Call(u"ADD", u"newcomer", add_on) == 0; });
        row.del = Against(n, [&] { Reset(n); }, [&] { return Call(u"DEL", u"user1", n) == 0; });
        row.floor = row.del.floor;
        std::printf("%-10d %12.1f %12.1f %12.1f %12.1f\n", n, row.floor, row.isuser, row.add.action, row.del.action);
        std::fflush(stdout);
        rows.push_back(row);
    }
    std::printf("\nTime of each action over the floor (one read + one atomic rewrite of the same file; ADD and DEL\n"
                "each alternating with the floor, the median of the runs' ratios):\n");
    std::printf("%-10s %10s %10s %10s\n", "accounts", "ISUSER", "ADD", "DEL");
    for (const Row& r : rows)
        std::printf("%-10d %9.2fx %9.2fx %9.2fx\n", r.accounts, r.isuser / r.floor, r.add.ratio, r.del.ratio);
    std::error_code ec;
    fs::remove_all(Folder(), ec);
    if (g_failed) std::printf("\nSOME CALLS FAILED: the figures are not valid\n");
    return g_failed ? 1 : 0;
}
