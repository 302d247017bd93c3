// Whole processes: the host `quorvel` answering PostFtpSit ISUSER for the last
// of 998 accounts, next to /bin/true started the same way in the same run.
// The rounds alternate the commands, so that a machine busy with other work
// weighs on all of them alike. Arguments: the number of rounds (200).
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/flushed_file.h"
#include "bench/servu_file.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

using Command = std::vector<std::string>;

// Runs `command` with its output going nowhere; its exit status, or -1.
// `cpu_ms` gets the processor time it took, user and system: a figure that
// other work on the machine disturbs less than the time it took to end.
int Run(const Command& command, double* cpu_ms = nullptr) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return -1;
    if (cpu_ms != nullptr) {
        *cpu_ms = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The call's answer as the host prints it.
std::string Answer(const Command& command) {
    std::string line;
    for (const std::string& word : command) line += "'" + word + "' ";
    FILE* pipe = popen((line + "2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return {};
    char buffer[64] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, pipe);
    pclose(pipe);
    return std::string(buffer, n);
}

struct Figure {
    const char* what;
    Command command;
    Command before;  // run untimed before each timed run, when not empty
    std::vector<double> runs;
    std::vector<double> cpu;

    static double MedianOf(std::vector<double>& figures) {
        std::sort(figures.begin(), figures.end());
        return figures[figures.size() / 2];
    }
    double Median() { return MedianOf(runs); }
    double Least() { return *std::min_element(runs.begin(), runs.end()); }
    double Cpu() { return MedianOf(cpu); }
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 200;
    std::random_device rd;
    const fs::path folder = fs::temp_directory_path() / ("quorvel-host-bench-" + std::to_string(rd()));
    const std::string machine = (folder / "machine").string();
    const std::string host = QUORVEL_HOST_PATH;
    fs::create_directories(folder);
    std::error_code ec;
    if (Run({host, "--machine", machine, "init"}) != 0 || Run({host, "--machine", machine, "regsvr"}) != 0 ||
        !fs::create_directories(folder / "machine/drives/D/Serv-U", ec) ||
        !quorvel::bench::WriteFlushed(folder / "machine/drives/D/Serv-U/ServUDaemon.ini",
                                      quorvel::bench::ServUFile(998))) {
        std::fprintf(stderr, "host_bench: cannot make the machine in %s\n", folder.c_str());
        return 1;
    }
    const Command call{host, "--machine", machine, "call", "PostFtpSit", "ISUSER", "user998", "D:\\Serv-U"};
    if (Answer(call) != "0\n") {
        std::fprintf(stderr, "host_bench: the call did not find user998\n");
        return 1;
    }

    std::vector<Figure> figures{
        {"/bin/true (floor)", {"/bin/true"}, {}, {}, {}},
        {"quorvel --help (the host alone)", {host, "--help"}, {}, {}, {}},
        {"call, first after regsvr", call, {host, "--machine", machine, "regsvr"}, {}, {}},
        {"call, registered and warm", call, {}, {}, {}},
    };
    using Clock = std::chrono::steady_clock;
    bool failed = false;
    for (int round = 0; round < rounds; ++round) {
        for (Figure& figure : figures) {
            if (!figure.before.empty() && Run(figure.before) != 0) failed = true;
            double cpu = 0;
            const auto start = Clock::now();
            if (Run(figure.command, &cpu) != 0) failed = true;
            figure.runs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            figure.cpu.push_back(cpu);
        }
    }

    std::printf("PostFtpSit ISUSER of the last of 998 accounts, whole process; %d rounds\n", rounds);
    std::printf("%-32s %10s %10s %8s %10s %8s\n", "", "median ms", "least ms", "x floor", "cpu ms", "x floor");
    const double floor = figures[0].Median();
    const double least_floor = figures[0].Least();
    const double cpu_floor = figures[0].Cpu();
    for (Figure& figure : figures) {
        std::printf("%-32s %10.3f %10.3f %7.2fx %10.3f %7.2fx\n", figure.what, figure.Median(), figure.Least(),
                    figure.Median() / floor, figure.Cpu(), figure.Cpu() / cpu_floor);
    }
    std::printf("least over least: %.2fx (the call, registered and warm)\n", figures.back().Least() / least_floor);
    fs::remove_all(folder, ec);
    if (failed) std::printf("\nSOME RUNS FAILED: the figures are not valid\n");
    return failed ? 1 : 0;
}
