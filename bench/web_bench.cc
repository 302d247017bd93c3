// PostWebSit's ISSEARCH (of the last site) and ADD on machines with 100,
// 1,000 and 10,000 sites, through the object layer and the IIS stand-in,
// next to two floors measured in the same run on the same store: one query
// that reads every site's comment, and one commit of a new site.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "bench/metabase_floor.h"
#include "automation/objects.h"
#include "standins/iis/metabase.h"
#include "web/post_web_sit.h"

namespace {

namespace fs = std::filesystem;
using quorvel::iis::Change;
using quorvel::iis::Properties;
using quorvel::iis::Property;
using quorvel::iis::Text;
using quorvel::iis::TextList;

fs::path Folder() {
    static const fs::path folder = [] {
        char pattern[] = "/tmp/quorvel-web-bench-XXXXXX";
        const char* made = mkdtemp(pattern);
        return fs::path(made != nullptr ? made : "/tmp");
    }();
    return folder;
}

Text U16(const std::string& text) { return Text(text.begin(), text.end()); }

Text SiteName(int n) { return U16("customer" + std::to_string(n) + ".example"); }

// The settings ADD writes: twelve on the site, ten on its root.
Properties SiteProperties(int n) {
    Properties p;
    const auto put = [&](const char16_t* name, quorvel::iis::Value value) {
        p[quorvel::iis::UpperKey(name)] = Property{name, std::move(value)};
    };
    put(u"ServerComment", SiteName(n));
    put(u"Serverbindings", TextList{u":80:" + SiteName(n), u":80:www." + SiteName(n)});
    put(u"DefaultDoc", Text(u"index.htm,default.asp"));
    put(u"LogFileDirectory", Text(u"D:\\logs"));
    put(u"ConnectionTimeout", std::int32_t{900});
    put(u"CpuLimitLogEvent", std::int32_t{50000});
    put(u"MaxConnections", std::int32_t{200});
    put(u"MaxBandwidth", std::int32_t{102400});
    put(u"CpuLimitsEnabled", true);
    put(u"ScriptMaps", TextList{u".asp,C:\\WINNT\\system32\\inetsrv\\asp.dll,1,GET,HEAD,POST"});
    put(u"AnonymousUserName", Text(u"IUSR_BENCH"));
    put(u"AnonymousUserPass", Text(u"secret"));
    put(u"ServerState", std::int32_t{2});
    return p;
}

Properties RootProperties(int n) {
    Properties p;
    const auto put = [&](const char16_t* name, quorvel::iis::Value value) {
        p[quorvel::iis::UpperKey(name)] = Property{name, std::move(value)};
    };
    put(u"Path", U16("D:\\web\\site" + std::to_string(n)));
    put(u"EnableDefaultDoc", true);
    put(u"AccessWrite", false);
    put(u"EnableDirBrowsing", false);
    put(u"AccessRead", true);
    put(u"AccessScript", true);
    put(u"AccessExecute", false);
    put(u"AppIsolated", std::int32_t{2});
    put(u"AppRoot", U16("/LM/W3SVC/" + std::to_string(n) + "/root"));
    put(u"AppFriendlyName", Text(u"应用程序"));
    return p;
}

// A machine with `sites` sites, made once per size and kept for the run.
void UseMachine(int sites) {
    static std::map<int, bool> made;
    const fs::path machine = Folder() / std::to_string(sites);
    setenv("QUORVEL_MACHINE", machine.c_str(), 1);
    // The logs (a line per call) go with the rest, not into the build tree.
    setenv("QUORVEL_LOG_FOLDER", Folder().c_str(), 0);
    if (made[sites]) return;
    fs::create_directories(machine);
    std::ofstream(machine / "machine.ini") << "[Machine]\r\nComputerName=BENCH\r\nCodePage=936\r\n";
    quorvel::iis::Tree tree;
    for (int n = 1; n <= sites; ++n) {
        const Text path = U16("W3SVC/" + std::to_string(n));
        tree.Apply({Change::Kind::kCreate, path, u"IIsWebServer", SiteProperties(n)});
        tree.Apply({Change::Kind::kCreate, path + u"/root", u"IIsWebVirtualDir", RootProperties(n)});
    }
    quorvel::iis::MachineStore()->Import(tree);
    made[sites] = true;
}

// Every site's comment in one query, on a connection of its own.
void BM_FloorReadAllComments(benchmark::State& state) {
    const int sites = static_cast<int>(state.range(0));
    UseMachine(sites);
    const quorvel::bench::MetabaseQuery metabase(Folder() / std::to_string(sites) / "metabase.db");
    for (auto _ : state) {
        const int rows = metabase.Rows("SELECT p.value FROM objects o JOIN properties p ON p.object = o.key"
                                       " AND p.key = 'SERVERCOMMENT' WHERE o.parent = 'W3SVC'",
                                       0, [](const unsigned char* value) { benchmark::DoNotOptimize(value); });
        if (rows != sites) state.SkipWithError("wrong number of comments");
    }
}

// One commit of a new site with its settings, as SetInfo makes it.
void BM_FloorCommitOneSite(benchmark::State& state) {
    const int sites = static_cast<int>(state.range(0));
    UseMachine(sites);
    auto store = quorvel::iis::MachineStore();
    const Text path = U16("W3SVC/" + std::to_string(sites + 1));
    for (auto _ : state) {
        store->Commit({Change::Kind::kCreate, path, u"IIsWebServer", SiteProperties(sites + 1)});
        state.PauseTiming();
        store->Commit({Change::Kind::kDelete, path, {}, {}});
        state.ResumeTiming();
    }
}

std::int32_t Call(const char16_t* action, const Text& name) {
    return quorvel::web::PostWebSit(action, name, u"D:\\web\\new", u"index.htm", u".asp,asp.dll,1,GET",
                                    u":80:" + name, u"R", u"D:\\logs", 200, 900, 100, 50, u"IUSR_BENCH", u"secret");
}

void BM_IsSearchLastSite(benchmark::State& state) {
    const int sites = static_cast<int>(state.range(0));
    UseMachine(sites);
    // The first call reads the machine's metabase into the provider's copy.
    Call(u"ISSEARCH", SiteName(sites));
    for (auto _ : state) {
        if (Call(u"ISSEARCH", SiteName(sites)) != 0) state.SkipWithError("last site not found");
    }
}

void BM_AddSite(benchmark::State& state) {
    const int sites = static_cast<int>(state.range(0));
    UseMachine(sites);
    Call(u"ISSEARCH", SiteName(sites));
    // The new site goes again through the provider the component uses, so
    // that its copy of the metabase stays current.
    const auto service = quorvel::automation::GetObject(u"IIS://BENCH/W3SVC");
    for (auto _ : state) {
        if (Call(u"ADD", u"new.example") != 0) state.SkipWithError("ADD failed");
        state.PauseTiming();
        service.Call(u"Delete", {u"IIsWebServer", sites + 1});
        state.ResumeTiming();
    }
}

BENCHMARK(BM_FloorReadAllComments)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorCommitOneSite)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IsSearchLastSite)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddSite)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(Folder(), ec);
    return 0;
}
