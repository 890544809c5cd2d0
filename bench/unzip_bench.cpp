// Check, unpack and digest of module archives, as staging does them, beside the same work
// done by `unzip` and `md5sum`: 200 one-file archives of 1 MiB each, in one folder.
//
//   bench_unzip_bench [--benchmark_...]
//
// Agent: for each archive, digest of the archive, delete of the old staged file, unpack,
// digest of the unpacked file. Tools: one `unzip` over all archives, then one `md5sum`
// over the archives and the unpacked files.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/md5.h"
#include "modules/module_updater.h"
#include "text/text.h"

using modules::ModuleUpdater;

namespace {

namespace fs = std::filesystem;

constexpr int kArchives = 200;
constexpr size_t kFileBytes = 1 << 20;

struct Sample {
    std::u16string archive, staged;
    std::u16string zipMd5, md5;
};

std::u16string corePath(const fs::path& p) {
    std::string s = p.string();
    for (char& c : s)
        if (c == '/') c = '\\';
    return text::fromUtf8(s);
}

std::string md5Of(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    return app::md5OfBuffer(bytes.data(), bytes.size());
}

// Program-like content: bytes from a small alphabet with runs, which deflates to about
// half its size.
std::string programLikeBytes(std::mt19937& random) {
    std::string bytes(kFileBytes, '\0');
    for (size_t i = 0; i < bytes.size();) {
        size_t run = 1 + random() % 8;
        char value = static_cast<char>(random() % 24);
        for (size_t k = 0; k < run && i < bytes.size(); ++k)
            bytes[i++] = static_cast<char>(value + static_cast<int>(random() & 3u));
    }
    return bytes;
}

struct Corpus {
    fs::path root;
    std::vector<Sample> samples;

    Corpus() {
        char pattern[] = "/tmp/ovupdate-unzip-bench-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        root = pattern;
        fs::create_directories(root / "agent");
        fs::create_directories(root / "tools");
        std::mt19937 random(7);
        for (int i = 0; i < kArchives; ++i) {
            std::string name = "module" + std::to_string(i) + ".dll";
            std::string bytes = programLikeBytes(random);
            fs::path archive = root / (name + ".zip");
            zipFile zf = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
            zip_fileinfo info{};
            zipOpenNewFileInZip64(zf, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  Z_DEFAULT_COMPRESSION, 0);
            zipWriteInFileInZip(zf, bytes.data(), static_cast<unsigned>(bytes.size()));
            zipCloseFileInZip(zf);
            zipClose(zf, nullptr);
            samples.push_back({corePath(archive), corePath(root / "agent" / name), text::fromUtf8(md5Of(archive)),
                               text::fromUtf8(app::md5OfBuffer(bytes.data(), bytes.size()))});
        }
    }
    ~Corpus() { fs::remove_all(root); }
};

Corpus& corpus() {
    static Corpus c;
    return c;
}

void Agent(benchmark::State& state) {
    Corpus& c = corpus();
    ModuleUpdater updater;
    std::u16string target = corePath(c.root / "agent");
    for (auto _ : state) {
        for (const Sample& s : c.samples) {
            bool ok = modules::moduleDigests(s.archive, s.zipMd5).matches() && (plat::deleteFile(s.staged) || !plat::pathExists(s.staged)) &&
                      updater.UnZipOneFile(target, s.archive) && modules::moduleDigests(s.staged, s.md5).matches();
            if (!ok) state.SkipWithError("agent step failed");
        }
    }
}

double childCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void Tools(benchmark::State& state) {
    Corpus& c = corpus();
    std::string command = "cd '" + c.root.string() +
                          "' && unzip -qo '*.zip' -d tools > /dev/null && md5sum *.zip tools/* > /dev/null";
    double cpuBefore = childCpuSeconds();
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) state.SkipWithError("unzip or md5sum failed");
    }
    // The tools run as child processes: their processor time is not in the CPU column.
    state.counters["tools_cpu_ms"] =
        benchmark::Counter((childCpuSeconds() - cpuBefore) * 1000.0 / static_cast<double>(state.iterations()));
}

}  // namespace

BENCHMARK(Agent)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(Tools)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK_MAIN();
