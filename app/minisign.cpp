#include "app/minisign.h"

#include <sodium.h>

#include <cstring>

namespace app::minisign {
namespace {

constexpr char kUntrustedPrefix[] = "untrusted comment: ";
constexpr char kTrustedPrefix[] = "trusted comment: ";
constexpr char kLegacyAlgorithm[] = "Ed";
constexpr char kPrehashedAlgorithm[] = "ED";
// minisign's own bounds on a comment; a signature file is never longer than this.
constexpr size_t kMaxTrustedComment = 8192;
constexpr size_t kMaxSignatureText = 16384;
constexpr size_t kKeyBytes = 2 + 8 + 32;
constexpr size_t kSignatureBytes = 2 + 8 + 64;

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::string_view trimBlanks(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// Exactly `size` bytes from standard, padded base64; nothing else may be in the text.
bool decodeBase64(std::string_view text, uint8_t* out, size_t size) {
    size_t written = 0;
    if (text.empty()) return false;
    if (sodium_base642bin(out, size, text.data(), text.size(), nullptr, &written, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    return written == size;
}

// The lines of a text, each without its "\n" and the "\r"s before it (as minisign trims them).
std::vector<std::string_view> splitLines(std::string_view text, size_t most) {
    std::vector<std::string_view> lines;
    while (!text.empty() && lines.size() < most) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool decimal(std::string_view digits, uint64_t& value) {
    if (digits.empty() || digits.size() > 19) return false;  // below 2^64 whatever the digits
    value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

}  // namespace

bool parsePublicKey(std::string_view text, PublicKey& key) {
    for (std::string_view line : splitLines(text, 64)) {
        line = trimBlanks(line);
        if (line.empty() || startsWith(line, "untrusted comment:")) continue;
        uint8_t raw[kKeyBytes];
        if (!decodeBase64(line, raw, sizeof raw) || std::memcmp(raw, kLegacyAlgorithm, 2) != 0) return false;
        std::memcpy(key.id.data(), raw + 2, key.id.size());
        std::memcpy(key.key.data(), raw + 10, key.key.size());
        return true;
    }
    return false;
}

bool parseSignature(std::string_view text, Signature& signature) {
    if (text.size() > kMaxSignatureText) return false;
    std::vector<std::string_view> lines = splitLines(text, 4);
    if (lines.size() < 4 || !startsWith(lines[0], kUntrustedPrefix) || !startsWith(lines[2], kTrustedPrefix))
        return false;
    uint8_t raw[kSignatureBytes];
    if (!decodeBase64(trimBlanks(lines[1]), raw, sizeof raw)) return false;
    if (std::memcmp(raw, kPrehashedAlgorithm, 2) == 0) signature.prehashed = true;
    else if (std::memcmp(raw, kLegacyAlgorithm, 2) == 0) signature.prehashed = false;
    else return false;
    std::memcpy(signature.keyId.data(), raw + 2, signature.keyId.size());
    std::memcpy(signature.signature.data(), raw + 10, signature.signature.size());
    std::string_view comment = lines[2].substr(sizeof kTrustedPrefix - 1);
    if (comment.size() > kMaxTrustedComment) return false;
    signature.trustedComment.assign(comment);
    return decodeBase64(trimBlanks(lines[3]), signature.globalSignature.data(), signature.globalSignature.size());
}

const char* statusText(Status status) {
    switch (status) {
        case Status::Verified: return "verified";
        case Status::Malformed: return "not a minisign signature";
        case Status::UnknownKey: return "made with a key that is not trusted";
        case Status::BadSignature: return "does not match the document";
        case Status::BadGlobalSignature: return "its trusted comment was altered";
    }
    return "";
}

TrustedFields readTrustedComment(std::string_view comment) {
    TrustedFields fields;
    int files = 0, timestamps = 0;
    while (true) {
        size_t tab = comment.find('\t');
        std::string_view field = comment.substr(0, tab);
        if (startsWith(field, "file:")) {
            ++files;
            fields.file.assign(field.substr(5));
        } else if (startsWith(field, "timestamp:")) {
            ++timestamps;
            fields.hasTimestamp = decimal(field.substr(10), fields.timestamp);
        }
        if (tab == std::string_view::npos) break;
        comment.remove_prefix(tab + 1);
    }
    // A repeated field could be read either way: it counts as absent.
    fields.hasFile = files == 1;
    if (!fields.hasFile) fields.file.clear();
    if (timestamps != 1) fields.hasTimestamp = false;
    if (!fields.hasTimestamp) fields.timestamp = 0;
    return fields;
}

Verification verify(std::string_view message, std::string_view signatureText, const std::vector<PublicKey>& keys) {
    Verification result;
    Signature s;
    if (sodium_init() < 0 || !parseSignature(signatureText, s)) return result;
    result.keyId = s.keyId;
    result.prehashed = s.prehashed;
    result.status = Status::UnknownKey;
    for (const PublicKey& key : keys) {
        if (key.id != s.keyId) continue;
        auto bytes = reinterpret_cast<const unsigned char*>(message.data());
        int checked;
        if (s.prehashed) {
            unsigned char digest[crypto_generichash_BYTES_MAX];
            crypto_generichash(digest, sizeof digest, bytes, message.size(), nullptr, 0);
            checked = crypto_sign_verify_detached(s.signature.data(), digest, sizeof digest, key.key.data());
        } else {
            checked = crypto_sign_verify_detached(s.signature.data(), bytes, message.size(), key.key.data());
        }
        if (checked != 0) {
            result.status = Status::BadSignature;
            continue;
        }
        std::string signedComment(reinterpret_cast<const char*>(s.signature.data()), s.signature.size());
        signedComment += s.trustedComment;
        if (crypto_sign_verify_detached(s.globalSignature.data(),
                                        reinterpret_cast<const unsigned char*>(signedComment.data()),
                                        signedComment.size(), key.key.data()) != 0) {
            result.status = Status::BadGlobalSignature;
            continue;
        }
        result.status = Status::Verified;
        result.trustedComment = s.trustedComment;
        result.fields = readTrustedComment(s.trustedComment);
        return result;
    }
    return result;
}

std::string keyIdText(const KeyId& id) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = id.size(); i-- > 0;) {
        text += kDigits[id[i] >> 4];
        text += kDigits[id[i] & 15];
    }
    return text;
}

}  // namespace app::minisign
