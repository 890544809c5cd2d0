#include "app/signed_document.h"

#include <chrono>
#include <mutex>

#include "app/deploy_settings.h"
#include "app/settings.h"
#include "platform/format.h"
#include "platform/text.h"

namespace signing {
namespace {

constexpr uint64_t kSecondsPerDay = 86400;
constexpr size_t kTimestampChars = 32;

std::vector<minisign::PublicKey> deploymentKeys() {
    std::vector<minisign::PublicKey> keys;
    for (const std::u16string& line : deploy::servers().publicKeys) {
        minisign::PublicKey key;
        if (!line.empty() && minisign::parsePublicKey(text::toUtf8(line), key)) keys.push_back(key);
    }
    return keys;
}

uint64_t secondsNow() {
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(since).count());
}

uint64_t readNumber(const std::u16string& s) {
    uint64_t value = 0;
    for (char16_t c : text::trim(s)) {
        if (c < u'0' || c > u'9' || value > UINT64_MAX / 10 - 1) return 0;
        value = value * 10 + static_cast<uint64_t>(c - u'0');
    }
    return value;
}

std::u16string number(uint64_t value) { return text::fromUtf8(std::to_string(value)); }

Judgement refused(std::u16string reason) {
    Judgement j;
    j.reason = std::move(reason);
    return j;
}

}  // namespace

bool required() {
    for (const std::u16string& key : deploy::servers().publicKeys)
        if (!key.empty()) return true;
    return false;
}

std::u16string documentName(const std::u16string& location) {
    std::u16string path = location.substr(0, location.find_first_of(u"?#"));
    size_t slash = path.find_last_of(u"/\\");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

Judgement judge(const std::string& document, const std::string& signatureText, const std::u16string& name,
                const Policy& policy) {
    if (policy.keys.empty()) return refused(u"the deployment file's public key is not a minisign key");
    minisign::Verification v = minisign::verify(document, signatureText, policy.keys);
    if (v.status == minisign::Status::UnknownKey)
        return refused(text::format(u"signed with key %s, which the deployment does not trust",
                                    text::fromUtf8(minisign::keyIdText(v.keyId))));
    if (v.status != minisign::Status::Verified)
        return refused(text::format(u"signature %s", text::fromUtf8(minisign::statusText(v.status))));
    if (!v.fields.hasFile || text::fromUtf8(v.fields.file) != name)
        return refused(text::format(u"signed for file \"%s\", not %s", text::fromUtf8(v.fields.file), name));
    if (!v.fields.hasTimestamp) return refused(u"the trusted comment has no timestamp");
    uint64_t at = v.fields.timestamp;
    if (at < policy.newestAccepted)
        return refused(text::format(u"signed at %s, older than %s accepted before (rollback)", number(at),
                                    number(policy.newestAccepted)));
    if (policy.maxAgeDays > 0 && policy.now > at &&
        policy.now - at > static_cast<uint64_t>(policy.maxAgeDays) * kSecondsPerDay)
        return refused(
            text::format(u"signed at %s, more than %d days ago (expired)", number(at), policy.maxAgeDays));
    Judgement j;
    j.accepted = true;
    j.timestamp = at;
    return j;
}

std::u16string refusal(const std::string& document, const std::string& signatureText, const std::u16string& name) {
    // The newest timestamp is read, compared and written as one step.
    static std::mutex remembering;
    std::lock_guard<std::mutex> lock(remembering);
    Policy policy;
    policy.keys = deploymentKeys();
    policy.now = secondsNow();
    policy.maxAgeDays = deploy::servers().maxAgeDays;
    policy.newestAccepted =
        readNumber(settings::readString(kSectionSignatures, name, u"", kTimestampChars, settings::kOvUpdateIni));
    Judgement j = judge(document, signatureText, name, policy);
    if (!j.accepted) return j.reason;
    if (j.timestamp > policy.newestAccepted)
        settings::writeString(kSectionSignatures, name, number(j.timestamp), settings::kOvUpdateIni);
    return {};
}

std::u16string refusalLine(const std::u16string& location, const std::u16string& reason) {
    return text::format(u"document %s refused: %s", location, reason);
}

}  // namespace signing
