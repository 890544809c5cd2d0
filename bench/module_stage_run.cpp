// One module stage as a plain program, for hosts without Google Benchmark (the Windows
// build under Wine). "prepare" writes module sources and installed files; "run" puts the
// installed files in a fresh player folder, runs the stage against a source served over
// HTTP (OvServer --root DIR/source) and prints the stage's process CPU time per module.
//
//   bench_module_stage_run prepare DIR COUNT KIB
//   bench_module_stage_run run SOURCE_URL PLAYER_FOLDER INSTALLED_FOLDER COUNT
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "module_source.h"
#include "modules/module_updater.h"
#include "text/text.h"

using modules::ModuleUpdater;

namespace {

namespace fs = std::filesystem;

double processCpuSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}

std::u16string agentPath(const fs::path& path) {
    std::u16string p = text::fromUtf8(path.u8string());
    for (char16_t& c : p)
        if (c == u'/') c = u'\\';
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "prepare" && argc == 5) {
        std::printf("%s\n", benchsource::prepareSource(argv[2], std::atoi(argv[3]), std::atoi(argv[4])).c_str());
        return 0;
    }
    if (mode != "run" || argc != 6) {
        std::fprintf(stderr,
                     "usage: bench_module_stage_run prepare DIR COUNT KIB\n"
                     "       bench_module_stage_run run SOURCE_URL PLAYER_FOLDER INSTALLED_FOLDER COUNT\n");
        return 2;
    }
    fs::path player = argv[3];
    int count = std::atoi(argv[5]);
    fs::remove_all(player);
    fs::copy(argv[4], player);
    ModuleUpdater updater;
    updater.setPlayerFolder(agentPath(player));
    double before = processCpuSeconds();
    bool ok = updater.DoUpdateNow(text::fromUtf8(argv[2]), agentPath(player)) &&
              updater.ReplaceFiles(agentPath(player)) == count;
    double cpu = processCpuSeconds() - before;
    std::printf("%s %d modules: %.3f s CPU, %.3f ms per module\n", ok ? "ok" : "FAILED", count, cpu,
                cpu * 1000.0 / count);
    return ok ? 0 : 1;
}
