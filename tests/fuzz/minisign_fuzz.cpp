// libFuzzer target: the minisign signature and public-key parsers and the verification
// over arbitrary bytes. Besides "no crash, no hang", it checks that a signature text that
// parses is read the same when written out again in minisign's own form, that a parsed
// signature never counts as made with an unknown key when its key is offered, and that
// nothing but the one signed message passes.
#include <sodium.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/minisign.h"

#define check(condition)                                  \
    if (!(condition)) {                                   \
        std::fprintf(stderr, "broken: %s\n", #condition); \
        std::abort();                                     \
    }

namespace {

std::string base64(const unsigned char* bytes, size_t size) {
    std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(&text[0], text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.size() - 1);  // the terminator
    return text;
}

// The signature in the form minisign writes it.
std::string written(const app::minisign::Signature& s) {
    std::vector<unsigned char> raw = {'E', static_cast<unsigned char>(s.prehashed ? 'D' : 'd')};
    raw.insert(raw.end(), s.keyId.begin(), s.keyId.end());
    raw.insert(raw.end(), s.signature.begin(), s.signature.end());
    return "untrusted comment: again\n" + base64(raw.data(), raw.size()) +
           "\ntrusted comment: " + s.trustedComment + "\n" +
           base64(s.globalSignature.data(), s.globalSignature.size()) + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);

    app::minisign::PublicKey key;
    app::minisign::parsePublicKey(text, key);
    app::minisign::readTrustedComment(text);

    app::minisign::Signature s;
    bool parsed = app::minisign::parseSignature(text, s);
    // A key with the signature's id, so that the checks themselves run.
    app::minisign::PublicKey offered;
    offered.id = s.keyId;
    offered.key.fill(0x5a);
    app::minisign::Verification v = app::minisign::verify("the signed document\n", text, {offered});
    if (!parsed) {
        check(v.status == app::minisign::Status::Malformed);
        return 0;
    }
    check(v.status != app::minisign::Status::Malformed && v.status != app::minisign::Status::UnknownKey);
    check(v.status != app::minisign::Status::Verified);  // no signature is valid under a made-up key
    check(s.trustedComment.find('\n') == std::string::npos);

    app::minisign::Signature again;
    check(app::minisign::parseSignature(written(s), again));
    check(again.prehashed == s.prehashed && again.keyId == s.keyId && again.signature == s.signature &&
          again.trustedComment == s.trustedComment && again.globalSignature == s.globalSignature);
    return 0;
}
