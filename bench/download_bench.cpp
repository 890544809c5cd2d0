// One download to a file through the agent's transfer, for bench/download_bench.sh, which
// runs it under /usr/bin/time -v beside `curl -o` of the same file. Given the file's MD5,
// the download is followed by the package digest check, as a downloaded package is before
// it is installed (the anchor is then `curl -o` followed by `md5sum`); given its SHA-256
// too, the check of a signed deployment, which wants both digests.
//
//   bench_download_bench URL OUTPUT [MD5 [SHA256]]
//
// Prints "<bytes> bytes in <seconds> s, <MiB/s> MiB/s"; exit code 0 on success.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "fetch/install_package.h"
#include "fetch/transfer.h"
#include "text/text.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: bench_download_bench URL OUTPUT [MD5 [SHA256]]\n");
        return 2;
    }
    std::string output = argv[2];
    fetch::TransferRequest request;
    request.url = text::fromUtf8(argv[1]);
    request.saveToFile = true;
    request.savePath = text::fromUtf8(output);
    std::u16string sha256 = argc == 5 ? text::fromUtf8(argv[4]) : std::u16string();
    request.digestSha256 = !sha256.empty();
    for (auto& c : request.savePath)
        if (c == u'/') c = u'\\';

    auto start = std::chrono::steady_clock::now();
    bool ok = fetch::performTransfer(request).ok();
    if (ok && argc >= 4 && !fetch::packageDigestMatches(request.savePath, text::fromUtf8(argv[3]), sha256)) {
        std::fprintf(stderr, "digest check failed\n");
        return 1;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok) {
        std::fprintf(stderr, "download failed\n");
        return 1;
    }
    double bytes = static_cast<double>(std::filesystem::file_size(output));
    std::printf("%.0f bytes in %.3f s, %.1f MiB/s\n", bytes, seconds, bytes / seconds / (1 << 20));
    return 0;
}
