// CPU of applying a module patch beside unzipping the module's full archive, both with the
// agent's own code, in the same run (bench/delta_bench.sh drives it over a corpus).
//   bench_patch_apply OLD PATCH ZIP REPEAT   prints "apply_cpu_ms=.. unzip_cpu_ms=.." per run
//   bench_patch_apply --once OLD PATCH OUT   one apply as the agent does it (for peak memory)
#include <cstdio>
#include <ctime>
#include <string>

#include "modules/module_updater.h"
#include "modules/patch_apply.h"
#include "modules/patch_format.h"
#include "platform/files.h"
#include "text/text.h"

namespace {

bool applyOnce(const std::u16string& oldPath, const std::u16string& patchPath, std::string& out) {
    std::string old, patch;
    std::u16string why;
    return plat::readWholeFile(oldPath, old) && plat::readWholeFile(patchPath, patch) &&
           modules::applyPatch(old, patch, modules::patch::kMaxFileBytes, out, why);
}

double cpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--once") {
        std::string out;
        bool ok = applyOnce(text::fromUtf8(argv[2]), text::fromUtf8(argv[3]), out) &&
                  plat::writeWholeFile(text::fromUtf8(argv[4]), out);
        return ok ? 0 : 1;
    }
    if (argc != 5) return std::fputs("usage: bench_patch_apply OLD PATCH ZIP REPEAT | --once OLD PATCH OUT\n", stderr), 2;
    int repeat = std::max(1, std::atoi(argv[4]));
    std::u16string zip = text::fromUtf8(argv[3]);
    std::u16string target = plat::parentFolder(zip) + u"\\unzipped";
    plat::createDirectory(target);
    double start = cpuMs();
    for (int i = 0; i < repeat; ++i) {
        std::string out;
        if (!applyOnce(text::fromUtf8(argv[1]), text::fromUtf8(argv[2]), out) ||
            !plat::writeWholeFile(target + u"\\patched", out))
            return std::fputs("apply failed\n", stderr), 1;
    }
    double applied = cpuMs();
    modules::ModuleUpdater updater;
    for (int i = 0; i < repeat; ++i)
        if (!updater.UnZipOneFile(target, zip)) return std::fputs("unzip failed\n", stderr), 1;
    double unzipped = cpuMs();
    std::printf("apply_cpu_ms=%.2f unzip_cpu_ms=%.2f\n", (applied - start) / repeat, (unzipped - applied) / repeat);
    return 0;
}
