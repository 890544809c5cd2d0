#include "tools/publish/signature_check.h"

#include <ctime>

#include "app/signed_document.h"
#include "platform/text.h"

namespace publish {

bool loadPublicKey(const fs::path& path, minisign::PublicKey& key, std::string& error) {
    std::string text;
    if (!readBytes(path, text)) error = utf8(path) + ": cannot read the public key";
    else if (!minisign::parsePublicKey(text, key)) error = utf8(path) + ": not a minisign public key";
    return error.empty();
}

bool checkSignature(const std::string& bytes, const std::string& fileName, const fs::path& signature,
                    const minisign::PublicKey* key, std::string& why) {
    std::string text;
    if (!readBytes(signature, text)) {
        why = "cannot be read";
        return false;
    }
    if (key) {
        signing::Policy policy;
        policy.keys = {*key};
        policy.now = static_cast<uint64_t>(std::time(nullptr));
        signing::Judgement j = signing::judge(bytes, text, text::fromUtf8(fileName), policy);
        why = text::toUtf8(j.reason);
        return j.accepted;
    }
    minisign::Signature parsed;
    if (!minisign::parseSignature(text, parsed)) {
        why = "not a minisign signature";
        return false;
    }
    minisign::TrustedFields fields = minisign::readTrustedComment(parsed.trustedComment);
    if (!fields.hasFile || fields.file != fileName)
        why = "trusted comment names file:" + fields.file + ", not " + fileName;
    else if (!fields.hasTimestamp) why = "trusted comment has no timestamp";
    return why.empty();
}

}  // namespace publish
