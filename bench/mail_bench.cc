// Time and memory of PostEmail's ADD, EDIT of the first record and DEL of
// the first record on user lists of 1,000, 10,000 and 100,000 records (the
// webmail lookup answered locally, so the figure is the list work), next to
// the floor of one read plus one atomic rewrite of the same file through the
// same file calls, measured in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <new>
#include <string>

#include "mail/files/user_list.h"
#include "mail/post_email.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/utf8.h"

// Heap in use and its peak, so that each action's memory can be set beside
// the file's size.
namespace {
std::atomic<size_t> g_in_use{0};
std::atomic<size_t> g_peak{0};

void* Allocate(size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    const size_t now = g_in_use += malloc_usable_size(p);
    size_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void Free(void* p) {
    if (p == nullptr) return;
    g_in_use -= malloc_usable_size(p);
    std::free(p);
}
}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, size_t) noexcept { Free(p); }
void operator delete[](void* p, size_t) noexcept { Free(p); }

namespace {

namespace fs = std::filesystem;
using quorvel::platform::FromUtf8;

const std::u16string kStored = u"ABCDEFGHIJ0123456789";

fs::path Folder() {
    static const fs::path folder = [] {
        char pattern[] = "/tmp/quorvel-bench-XXXXXX";
        const char* made = mkdtemp(pattern);
        return fs::path(made != nullptr ? made : "/tmp");
    }();
    return folder;
}

fs::path MailDirOf(int records) { return Folder() / std::to_string(records); }
fs::path ListOf(int records) { return MailDirOf(records) / "App" / "USERLIST.DAT"; }

std::u16string Box(int n) { return u"user" + FromUtf8(std::to_string(n)); }

std::string MakeList(int records) {
    std::string out;
    out.reserve(static_cast<size_t>(records) * 237);
    for (int n = 1; n <= records; ++n) {
        quorvel::mail::Mailbox box{u"example.com", Box(n), u"Customer " + FromUtf8(std::to_string(n)),
                                   u"D:\\MDaemon\\Users\\example.com\\" + Box(n) + u"\\", kStored, 50, 10240};
        out += quorvel::platform::ToAnsi(*quorvel::mail::BuildRecord(box)) + "\r\n";
    }
    return out;
}

// Puts the list back, flushed, so that the timed call does not wait behind
// the write-back of the harness's own bytes.
void Reset(int records) {
    static std::map<int, std::string> lists;
    auto& bytes = lists[records];
    if (bytes.empty()) bytes = MakeList(records);
    fs::create_directories(ListOf(records).parent_path());
    const int fd = open(ListOf(records).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    if (write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size())) fdatasync(fd);
    close(fd);
}

std::int32_t Call(const char16_t* action, const std::u16string& box, int records) {
    return quorvel::mail::PostEmail(action, FromUtf8(MailDirOf(records).string()), u"example.com", box, u"127.0.0.1",
                                    u"New Name", u"secret", 10, 2048,
                                    [](const std::u16string&, const std::u16string&, const std::u16string&) {
                                        return kStored;
                                    });
}

// Runs one timed action per iteration on a fresh list; reports the peak heap
// of the action over the file's size.
template <typename Action>
void Measure(benchmark::State& state, Action&& action) {
    const int n = static_cast<int>(state.range(0));
    double worst = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Reset(n);
        g_peak = g_in_use.load();
        const size_t before = g_in_use;
        state.ResumeTiming();
        if (!action(n)) state.SkipWithError("the action failed");
        state.PauseTiming();
        worst = std::max(worst, static_cast<double>(g_peak - before));
        state.ResumeTiming();
    }
    state.counters["heap/file"] = worst / static_cast<double>(fs::file_size(ListOf(n)));
}

void BM_Floor(benchmark::State& state) {
    Measure(state, [](int n) {
        const std::string path = ListOf(n).string();
        const auto bytes = quorvel::platform::ReadFileBytes(path);
        return bytes && quorvel::platform::ReplaceFileBytes(path, *bytes);
    });
}

void BM_Add(benchmark::State& state) {
    Measure(state, [](int n) { return Call(u"ADD", u"newcomer", n) == 0; });
}

void BM_EditFirst(benchmark::State& state) {
    Measure(state, [](int n) { return Call(u"EDIT", Box(1), n) == 0; });
}

void BM_DelFirst(benchmark::State& state) {
    Measure(state, [](int n) { return Call(u"DEL", Box(1), n) == 0; });
}

// Disk flushes make single runs noisy: each figure is the median of five.
#define QUORVEL_SIZES(b)                                                                                         \
    b->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly( \
        true)
QUORVEL_SIZES(BENCHMARK(BM_Floor));
QUORVEL_SIZES(BENCHMARK(BM_Add));
QUORVEL_SIZES(BENCHMARK(BM_EditFirst));
QUORVEL_SIZES(BENCHMARK(BM_DelFirst));

class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            times_[run.benchmark_name()] = run.GetAdjustedRealTime();
            const auto heap = run.counters.find("heap/file");
            if (heap != run.counters.end()) heap_[run.benchmark_name()] = heap->second.value;
        }
    }
    void PrintRatios() const {
        std::printf("\nTime of each action over the floor (one read + one atomic rewrite), and peak heap over "
                    "the file's size:\n");
        std::printf("%-9s %9s %13s %13s %13s\n", "records", "floor ms", "ADD", "EDIT first", "DEL first");
        for (int n : {1000, 10000, 100000}) {
            const std::string arg = "/" + std::to_string(n);
            const double floor = Get(times_, "BM_Floor" + arg);
            auto cell = [&](const std::string& name) {
                char text[32];
                std::snprintf(text, sizeof text, "%.2fx %.2fm", floor > 0 ? Get(times_, name + arg) / floor : 0.0,
                              Get(heap_, name + arg));
                return std::string(text);
            };
            std::printf("%-9d %9.2f %13s %13s %13s\n", n, floor, cell("BM_Add").c_str(), cell("BM_EditFirst").c_str(),
                        cell("BM_DelFirst").c_str());
        }
        std::printf("(NNx: time over the floor; NNm: peak heap over the file's size)\n");
    }

private:
    static double Get(const std::map<std::string, double>& map, const std::string& name) {
        const auto it = map.find(name + "/repeats:5_median");
        return it == map.end() ? 0 : it->second;
    }
    std::map<std::string, double> times_;
    std::map<std::string, double> heap_;
};

}  // namespace

int main(int argc, char** argv) {
    setenv("QUORVEL_MACHINE", (Folder() / "machine").c_str(), 0);
    // The logs (a line per call) go with the rest, not into the build tree.
    setenv("QUORVEL_LOG_FOLDER", Folder().c_str(), 0);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    std::error_code ec;
    fs::remove_all(Folder(), ec);
    return 0;
}
