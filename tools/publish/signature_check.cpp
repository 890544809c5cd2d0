#include "tools/publish/signature_check.h"

#include "app/signed_document.h"
#include "text/text.h"

namespace publish {

bool loadPublicKey(const fs::path& path, app::minisign::PublicKey& key, std::string& error) {
    std::string text;
    if (!readBytes(path, text)) error = utf8(path) + ": cannot read the public key";
    else if (!app::minisign::parsePublicKey(text, key)) error = utf8(path) + ": not a minisign public key";
    return error.empty();
}

bool checkSignature(const std::string& bytes, const std::string& treePath, const fs::path& signature,
                    const SignatureCheck& check, std::string& why, uint64_t& timestamp) {
    std::string text;
    timestamp = 0;
    if (!readBytes(signature, text)) {
        why = "cannot be read";
        return false;
    }
    if (check.key) {
        app::signing::Policy policy;
        policy.keys = {*check.key};
        policy.now = check.now;
        policy.maxAgeDays = check.maxAgeDays;
        app::signing::Judgement j = app::signing::judge(bytes, text, text::fromUtf8(treePath), policy);
        why = text::toUtf8(j.reason);
        timestamp = j.timestamp;
        return j.accepted;
    }
    app::minisign::Signature parsed;
    if (!app::minisign::parseSignature(text, parsed)) {
        why = "not a minisign signature";
        return false;
    }
    app::minisign::TrustedFields fields = app::minisign::readTrustedComment(parsed.trustedComment);
    timestamp = fields.timestamp;
    if (!fields.hasFile || !app::signing::namesDocument(text::fromUtf8(fields.file), text::fromUtf8(treePath)))
        why = "trusted comment names file:" + fields.file + ", not " + treePath;
    else if (!fields.hasTimestamp) why = "trusted comment has no timestamp";
    return why.empty();
}

}  // namespace publish
