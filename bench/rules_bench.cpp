// The update rules over a document of N update elements, none of which applies, with a
// 16 MiB player executable whose version every element compares against. Time per element
// should not grow with N. "heap_kept" is the heap still in use once the decision has
// returned, against before it: the document and its records are gone by then.
//
//   bench_rules_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/host_probes.h"
#include "decision/update_document.h"
#include "decision/update_driver.h"
#include "platform/pe_builder.h"
#include "text/text.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kPlayerBytes = 16u << 20;

// The real file system for versions and files; the registry names the bench's player.
class BenchHost final : public decision::RuleHost {
public:
    explicit BenchHost(std::u16string player) : m_player(std::move(player)) {}
    bool fileExists(const std::u16string& path) override { return app::fileExists(path); }
    std::u16string fileVersion(const std::u16string& path) override { return app::fileVersion(path); }
    std::u16string channel() override { return u"bench"; }
    bool readRegistryPath(std::u16string& path) override {
        path = m_player;
        return true;
    }
    bool readRegistryPathFolder(std::u16string& path) override {
        path = m_player.substr(0, m_player.rfind(u'\\'));
        return true;
    }
    std::u16string environmentVariable(const std::u16string&) override { return {}; }

private:
    std::u16string m_player;
};

const fs::path& player() {
    static const fs::path path = [] {
        fs::path p = fs::temp_directory_path() / ("ov-rules-bench-" + std::to_string(getpid()) + ".exe");
        platformtest::VersionFields version;
        version.fileVersion[0] = 5;
        std::string bytes = platformtest::peWithVersion(version);
        bytes.resize(kPlayerBytes, '\x90');  // code and data the version is not in
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }();
    return path;
}

std::string document(int count) {
    std::string xml = "<?xml version='1.0'?><info><Clientpath>player</Clientpath>";
    for (int i = 0; i < count; ++i) {
        // Valid but for the player's version, which is below clientminver.
        xml += "<update name='p" + std::to_string(i) +
               ".exe' enable='1' clientminver='9.0.0.0'><file name='absent.dll' path='9'/></update>";
    }
    return xml + "</info>";
}

size_t heapInUse() { return mallinfo2().uordblks; }

void BM_Rules(benchmark::State& state) {
    int count = static_cast<int>(state.range(0));
    std::u16string playerPath = text::fromUtf8(player().string());
    for (char16_t& c : playerPath)
        if (c == u'/') c = u'\\';
    BenchHost host(playerPath);
    std::string xml = document(count);
    size_t kept = 0;
    for (auto _ : state) {
        size_t before = heapInUse();
        {
            std::vector<decision::DocumentItem> items;
            decision::parseUpdateDocument(xml, items);
            decision::WalkMachine machine{u"\\ovupdate-bench-no-such-folder", u"abc", {}, false};
            decision::RunDecision decision = decision::walkDocument(items, host, machine).decision;
            if (decision.verdict != fetch::Verdict::NoUpdate) state.SkipWithError("an element applied");
        }
        size_t after = heapInUse();
        kept = after > before ? after - before : 0;
    }
    state.counters["per_element"] =
        benchmark::Counter(count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["heap_kept"] = static_cast<double>(kept);
}
BENCHMARK(BM_Rules)->Arg(10000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove(player());
    return 0;
}
