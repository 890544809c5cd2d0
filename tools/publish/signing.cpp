#include "tools/publish/signing.h"

#include <sodium.h>

#include <cstring>
#include <ctime>

namespace publish {
namespace {

// Layout of the decoded secret key: algorithm "Ed", key-derivation algorithm (zero bytes
// without a password, "Sc" with one), checksum algorithm "B2", salt, two limits, key id,
// secret key, checksum.
constexpr size_t kKdfAlgorithmAt = 2;
constexpr size_t kKeyIdAt = 54;
constexpr size_t kSecretAt = kKeyIdAt + 8;
constexpr size_t kKeyBytes = kSecretAt + 64 + 32;

std::string base64(const unsigned char* data, size_t size) {
    std::string out(sodium_base64_encoded_len(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(&out[0], out.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    out.resize(std::strlen(out.c_str()));
    return out;
}

bool decodeBase64(const std::string& text, std::string& bytes) {
    bytes.assign(text.size(), '\0');
    size_t length = 0;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(&bytes[0]), bytes.size(), text.data(), text.size(),
                          " \r\n", &length, nullptr, sodium_base64_VARIANT_ORIGINAL) != 0) {
        return false;
    }
    bytes.resize(length);
    return true;
}

// The second line of a minisign file: the encoded key or signature.
std::string secondLine(const std::string& text) {
    size_t start = text.find('\n');
    if (start == std::string::npos) return {};
    size_t end = text.find('\n', start + 1);
    return text.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

}  // namespace

bool loadSecretKey(const fs::path& path, SecretKey& key, std::string& error) {
    std::string text, raw;
    if (!readBytes(path, text)) {
        error = utf8(path) + ": cannot read the secret key";
        return false;
    }
    if (!decodeBase64(secondLine(text), raw) || raw.size() != kKeyBytes || raw.compare(0, 2, "Ed") != 0) {
        error = utf8(path) + ": not a minisign secret key";
        return false;
    }
    if (raw[kKdfAlgorithmAt] != 0 || raw[kKdfAlgorithmAt + 1] != 0) {
        error = utf8(path) + ": the secret key is protected by a password; make one without (minisign -G -W)";
        return false;
    }
    std::memcpy(key.keyId, raw.data() + kKeyIdAt, sizeof key.keyId);
    std::memcpy(key.secret, raw.data() + kSecretAt, sizeof key.secret);
    // The secret key holds its seed and its public key: both must belong together.
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES], derived[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(publicKey, derived, key.secret);
    if (std::memcmp(derived, key.secret, sizeof derived) != 0) {
        error = utf8(path) + ": the secret key is damaged";
        return false;
    }
    return true;
}

std::string signatureText(const std::string& bytes, const std::string& fileName, const SecretKey& key,
                          int64_t timestamp) {
    unsigned char digest[crypto_generichash_BYTES_MAX];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                       nullptr, 0);
    unsigned char blob[2 + 8 + crypto_sign_BYTES] = {'E', 'D'};
    std::memcpy(blob + 2, key.keyId, sizeof key.keyId);
    crypto_sign_detached(blob + 10, nullptr, digest, sizeof digest, key.secret);

    std::string trusted = "timestamp:" + std::to_string(timestamp) + "\tfile:" + fileName + "\thashed";
    std::string signedPart(reinterpret_cast<const char*>(blob + 10), crypto_sign_BYTES);
    signedPart += trusted;
    unsigned char global[crypto_sign_BYTES];
    crypto_sign_detached(global, nullptr, reinterpret_cast<const unsigned char*>(signedPart.data()),
                         signedPart.size(), key.secret);
    return "untrusted comment: signature from minisign secret key\n" + base64(blob, sizeof blob) +
           "\ntrusted comment: " + trusted + "\n" + base64(global, sizeof global) + "\n";
}

bool signFile(const fs::path& path, const std::string& signedName, const SecretKey& key, std::string& error) {
    std::string bytes;
    if (!readBytes(path, bytes)) {
        error = utf8(path) + ": cannot read the file to sign";
        return false;
    }
    fs::path signature = path;
    signature += ".minisig";
    if (!writeBytes(signature, signatureText(bytes, signedName, key, static_cast<int64_t>(std::time(nullptr))))) {
        error = utf8(signature) + ": cannot write the signature";
        return false;
    }
    return true;
}

bool sealDocument(const fs::path& path, const std::string& signedName, const SecretKey* key, std::string& error) {
    if (key) return signFile(path, signedName, *key, error);
    fs::path signature = path;
    signature += ".minisig";
    std::error_code ec;
    fs::remove(signature, ec);
    return true;
}

}  // namespace publish
