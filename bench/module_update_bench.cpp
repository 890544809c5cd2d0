// CPU of a whole module stage (download, checks, unpack, staging list, swap) for N changed
// modules, against a loopback server in a child process, so only the agent's own work is
// counted. Beside it, the same archives fetched by curl, unpacked by unzip and digested by
// md5sum (archives and unpacked files), counted as the CPU of those child processes.
// "per_module" is CPU seconds per module: it should not grow with N.
//
//   bench_module_update_bench [--benchmark_filter=...]   (needs curl, unzip and md5sum)
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "module_source.h"
#include "modules/module_updater.h"
#include "text/text.h"

using modules::ModuleUpdater;

namespace {

namespace fs = std::filesystem;

const fs::path& scratch() {
    static const fs::path path = fs::temp_directory_path() / ("ov-module-bench-" + std::to_string(getpid()));
    return path;
}

// The server runs in a child process for the whole program; its CPU is not the agent's.
int serverPort() {
    static int port = [] {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) std::abort();
        pid_t child = fork();
        if (child == 0) {
            httplib::Server server;
            server.set_mount_point("/", (scratch() / "source").string());
            int bound = server.bind_to_any_port("127.0.0.1");
            if (write(pipeFds[1], &bound, sizeof bound) != sizeof bound) _exit(1);
            server.listen_after_bind();
            _exit(0);
        }
        int bound = 0;
        if (read(pipeFds[0], &bound, sizeof bound) != sizeof bound) std::abort();
        static pid_t serverChild = child;
        std::atexit([] {
            kill(serverChild, SIGTERM);
            waitpid(serverChild, nullptr, 0);
            fs::remove_all(scratch());
        });
        return bound;
    }();
    return port;
}

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::u16string agentPath(const fs::path& path) {
    std::u16string p = text::fromUtf8(path.string());
    for (char16_t& c : p)
        if (c == u'/') c = u'\\';
    return p;
}

void resetPlayer(const fs::path& player, const std::string& set) {
    fs::remove_all(player);
    fs::copy(scratch() / "old" / set, player);
}

void BM_ModuleUpdate(benchmark::State& state) {
    int count = static_cast<int>(state.range(0)), kib = static_cast<int>(state.range(1));
    std::string set = benchsource::prepareSource(scratch(), count, kib);
    std::u16string sourceDir = text::fromUtf8("http://127.0.0.1:" + std::to_string(serverPort()) + "/" + set);
    fs::path player = scratch() / "player";
    for (auto _ : state) {
        resetPlayer(player, set);
        ModuleUpdater updater;
        updater.setPlayerFolder(agentPath(player));
        double before = cpuSeconds(RUSAGE_SELF);
        bool ok =
            updater.DoUpdateNow(sourceDir, agentPath(player)) && updater.ReplaceFiles(agentPath(player)) == count;
        state.SetIterationTime(cpuSeconds(RUSAGE_SELF) - before);
        if (!ok) state.SkipWithError("module update failed");
    }
    state.counters["per_module"] =
        benchmark::Counter(count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;  // of the whole program so far
}

// curl fetches every archive in one process, unzip unpacks them all, md5sum digests the
// archives and the unpacked files: the same bytes moved and checked as the agent checks.
void BM_CurlUnzipMd5sum(benchmark::State& state) {
    int count = static_cast<int>(state.range(0)), kib = static_cast<int>(state.range(1));
    std::string set = benchsource::prepareSource(scratch(), count, kib);
    std::string base = "http://127.0.0.1:" + std::to_string(serverPort()) + "/" + set + "/bin/";
    fs::path out = scratch() / "anchor";
    std::string urls;
    for (int i = 0; i < count; ++i) urls += "url = \"" + base + benchsource::moduleName(i) + ".zip\"\n";
    benchsource::writeFile(scratch() / "curl.cfg", urls);
    std::string command = "cd '" + out.string() + "' && curl -s --remote-name-all -K '" +
                          (scratch() / "curl.cfg").string() +
                          "' && unzip -qqo '*.zip' -d files && md5sum *.zip files/* >/dev/null";
    for (auto _ : state) {
        fs::remove_all(out);
        fs::create_directories(out);
        double before = cpuSeconds(RUSAGE_CHILDREN);
        bool ok = std::system(command.c_str()) == 0;
        state.SetIterationTime(cpuSeconds(RUSAGE_CHILDREN) - before);
        if (!ok) state.SkipWithError("anchor command failed");
    }
    state.counters["per_module"] =
        benchmark::Counter(count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Times are CPU seconds (user + system) of the measured work only.
BENCHMARK(BM_ModuleUpdate)
    ->Args({100, 4})
    ->Args({1000, 4})
    ->Args({5000, 4})
    ->Args({200, 1024})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_CurlUnzipMd5sum)
    ->Args({100, 4})
    ->Args({200, 1024})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
