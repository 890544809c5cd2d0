// Verification of minisign signatures: the public key line of a minisign.pub file, the
// four lines of a .minisig file, and the check of some bytes against them. Both kinds of
// signature minisign writes are accepted: "ED" signs the BLAKE2b-512 digest of the bytes,
// the legacy "Ed" the bytes themselves. The global signature, over the signature and the
// trusted comment, is always checked, so the trusted comment's "file:" and "timestamp:"
// fields can be relied on once verify answers Verified.
//
// Host-independent (the C++ library and libsodium only), so that other programs (the
// publishing tool's verify command) check exactly as the agent does.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace app::minisign {

using KeyId = std::array<uint8_t, 8>;

struct PublicKey {
    KeyId id{};
    std::array<uint8_t, 32> key{};
};

struct Signature {
    bool prehashed = false;  // "ED"; false for the legacy "Ed"
    KeyId keyId{};
    std::array<uint8_t, 64> signature{};
    std::string trustedComment;  // without the "trusted comment: " prefix
    std::array<uint8_t, 64> globalSignature{};
};

// The base64 key line ("RWQ..."), with or without blanks around it. The whole text of a
// minisign.pub file is also taken: its comment line is skipped. False on anything else.
bool parsePublicKey(std::string_view text, PublicKey& key);

// The text of a .minisig file: an untrusted comment line, the signature line, the trusted
// comment line and the global signature line ("\n" or "\r\n" line ends); anything after the
// fourth line is ignored, as minisign does. False when any part is missing or malformed.
bool parseSignature(std::string_view text, Signature& signature);

enum class Status {
    Verified,
    Malformed,          // the signature text is not a minisign signature
    UnknownKey,         // made with a key that is not in the list
    BadSignature,       // the bytes are not the ones that were signed
    BadGlobalSignature  // the trusted comment is not the one that was signed
};
const char* statusText(Status status);

// What a verified trusted comment says. minisign writes "timestamp:<seconds>\tfile:<name>"
// (and "\thashed" for a prehashed signature); a field that is missing, repeated or (for the
// timestamp) not a decimal number is reported absent.
struct TrustedFields {
    std::string file;
    bool hasFile = false;
    uint64_t timestamp = 0;
    bool hasTimestamp = false;
};
TrustedFields readTrustedComment(std::string_view comment);

struct Verification {
    Status status = Status::Malformed;
    KeyId keyId{};               // the signature's key (when it could be read)
    bool prehashed = false;      // "ED" (when it could be read)
    std::string trustedComment;  // filled only when Verified
    TrustedFields fields;        // likewise
};

// Checks message against the signature text under any of keys.
Verification verify(std::string_view message, std::string_view signatureText, const std::vector<PublicKey>& keys);

// A key id as minisign prints it: 16 upper-case hex digits, most significant byte first.
std::string keyIdText(const KeyId& id);

}  // namespace app::minisign
