// What a signed deployment costs. The signature check of a document (minisign's prehashed
// "ED" and legacy "Ed" signatures, global signature included) beside the MD5 of the same
// bytes, for documents of 4 KiB to 1 MiB; and a package's MD5 and SHA-256 from one read of
// a 64 MiB file beside the MD5 alone. Throughput is reported as bytes per second.
#include <benchmark/benchmark.h>
#include <sodium.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/md5.h"
#include "app/digest_check.h"
#include "app/sha256.h"
#include "app/minisign.h"
#include "text/text.h"

namespace {

std::string randomText(size_t size) {
    std::string text(size, '\0');
    std::mt19937 generator(7);
    for (char& c : text) c = static_cast<char>('a' + generator() % 26);
    return text;
}

std::string base64(const unsigned char* bytes, size_t size) {
    std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(&text[0], text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.size() - 1);
    return text;
}

// A key pair and a signature of message in minisign's format, made here with libsodium as
// minisign makes it.
struct Signed {
    app::minisign::PublicKey key;
    std::string signature;
};

Signed sign(const std::string& message, bool prehashed) {
    if (sodium_init() < 0) std::abort();
    Signed s;
    unsigned char secret[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(s.key.key.data(), secret);
    randombytes_buf(s.key.id.data(), s.key.id.size());
    unsigned char raw[74] = {'E', static_cast<unsigned char>(prehashed ? 'D' : 'd')};
    std::copy(s.key.id.begin(), s.key.id.end(), raw + 2);
    unsigned char digest[crypto_generichash_BYTES_MAX];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size(), nullptr, 0);
    if (prehashed) crypto_sign_detached(raw + 10, nullptr, digest, sizeof digest, secret);
    else
        crypto_sign_detached(raw + 10, nullptr, reinterpret_cast<const unsigned char*>(message.data()),
                             message.size(), secret);
    std::string comment = "timestamp:1700000000\tfile:OvUpdate.xml";
    std::string global(reinterpret_cast<const char*>(raw + 10), 64);
    global += comment;
    unsigned char globalSignature[64];
    crypto_sign_detached(globalSignature, nullptr, reinterpret_cast<const unsigned char*>(global.data()),
                         global.size(), secret);
    s.signature = "untrusted comment: bench\n" + base64(raw, sizeof raw) + "\ntrusted comment: " + comment + "\n" +
                  base64(globalSignature, sizeof globalSignature) + "\n";
    return s;
}

void verifyDocument(benchmark::State& state, bool prehashed) {
    std::string document = randomText(static_cast<size_t>(state.range(0)));
    Signed s = sign(document, prehashed);
    std::vector<app::minisign::PublicKey> keys = {s.key};
    for (auto _ : state) {
        app::minisign::Verification v = app::minisign::verify(document, s.signature, keys);
        if (v.status != app::minisign::Status::Verified) state.SkipWithError("not verified");
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_VerifyPrehashed(benchmark::State& state) { verifyDocument(state, true); }
void BM_VerifyLegacy(benchmark::State& state) { verifyDocument(state, false); }
void BM_Md5OfDocument(benchmark::State& state) {
    std::string document = randomText(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(app::md5OfBuffer(document.data(), document.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_VerifyPrehashed)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_VerifyLegacy)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_Md5OfDocument)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);

// A 64 MiB package file, written once and removed at exit.
constexpr size_t kPackageSize = 64 << 20;
const std::u16string& packageFile() {
    static const std::u16string path = [] {
        std::string native = "/tmp/ovupdate-signature-bench-" + std::to_string(getpid()) + ".bin";
        std::string bytes = randomText(kPackageSize);
        FILE* f = std::fopen(native.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        std::atexit(
            [] { std::remove(("/tmp/ovupdate-signature-bench-" + std::to_string(getpid()) + ".bin").c_str()); });
        return text::fromUtf8(native);
    }();
    return path;
}

void BM_PackageMd5Alone(benchmark::State& state) {
    packageFile();  // written before the timing starts
    app::DigestCheck check{u"", {}, plat::OpenMode::ReadShared, app::Md5Case::Ignored, app::DigestSource::Bytes};
    for (auto _ : state) benchmark::DoNotOptimize(app::checkDigests(packageFile(), check));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kPackageSize));
}
void BM_PackageMd5AndSha256OneRead(benchmark::State& state) {
    packageFile();
    app::DigestCheck check{u"", std::u16string(64, u'0'), plat::OpenMode::ReadShared, app::Md5Case::Ignored,
                           app::DigestSource::Bytes};
    for (auto _ : state) benchmark::DoNotOptimize(app::checkDigests(packageFile(), check));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kPackageSize));
}
BENCHMARK(BM_PackageMd5Alone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackageMd5AndSha256OneRead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
