// The agent's MD5 beside OpenSSL's on the same 64 MiB: in memory, and from a file (the
// whole-file digest, the streamed digest, and OpenSSL fed from the same kind of reads).
// Throughput is reported as bytes per second.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/digest_check.h"
#include "app/md5.h"
#include "platform/files.h"
#include "text/text.h"

namespace {

constexpr size_t kSize = 64 << 20;

const std::string& data() {
    static const std::string bytes = [] {
        std::string b(kSize, '\0');
        std::mt19937_64 generator(42);
        for (size_t i = 0; i + 8 <= b.size(); i += 8) {
            uint64_t v = generator();
            memcpy(&b[i], &v, 8);
        }
        return b;
    }();
    return bytes;
}

// The data written once to a temporary file, removed at exit.
const std::u16string& dataFile() {
    static const std::u16string path = [] {
        std::string native = "/tmp/ovupdate-md5-bench-" + std::to_string(getpid()) + ".bin";
        FILE* f = std::fopen(native.c_str(), "wb");
        std::fwrite(data().data(), 1, data().size(), f);
        std::fclose(f);
        std::atexit([] { std::remove(("/tmp/ovupdate-md5-bench-" + std::to_string(getpid()) + ".bin").c_str()); });
        std::u16string p = text::fromUtf8(native);
        for (char16_t& c : p)
            if (c == u'/') c = u'\\';
        return p;
    }();
    return path;
}

std::string openSslMd5(const void* bytes, size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes, size, digest, &length, EVP_md5(), nullptr);
    return app::md5Hex(digest);
}

void finish(benchmark::State& state, const std::string& digest) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSize));
    if (digest != openSslMd5(data().data(), data().size())) state.SkipWithError("digests differ");
}

void BM_Md5Buffer(benchmark::State& state) {
    std::string digest;
    for (auto _ : state) digest = app::md5OfBuffer(data().data(), data().size());
    finish(state, digest);
}

void BM_OpenSslMd5Buffer(benchmark::State& state) {
    std::string digest;
    for (auto _ : state) digest = openSslMd5(data().data(), data().size());
    finish(state, digest);
}

// The agent's file check, always from the bytes.
void BM_Md5FileCheck(benchmark::State& state) {
    std::string digest;
    app::DigestCheck check{u"", {}, plat::OpenMode::ReadShared, app::Md5Case::Ignored, app::DigestSource::Bytes};
    for (auto _ : state) digest = text::toUtf8(app::checkDigests(dataFile(), check).md5);
    finish(state, digest);
}

// OpenSSL over the same platform file reads, 1 MiB at a time.
void BM_OpenSslMd5File(benchmark::State& state) {
    std::string digest;
    std::vector<unsigned char> buffer(1 << 20);
    for (auto _ : state) {
        auto file = plat::openFile(dataFile(), plat::OpenMode::ReadShared);
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        EVP_DigestInit_ex(context, EVP_md5(), nullptr);
        int64_t got;
        while ((got = file->read(buffer.data(), buffer.size())) > 0)
            EVP_DigestUpdate(context, buffer.data(), static_cast<size_t>(got));
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(context, out, &length);
        EVP_MD_CTX_free(context);
        digest = app::md5Hex(out);
    }
    finish(state, digest);
}

}  // namespace

BENCHMARK(BM_Md5Buffer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslMd5Buffer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5FileCheck)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslMd5File)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
