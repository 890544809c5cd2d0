#include "app/signed_document.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "app/deploy_settings.h"
#include "app/settings.h"
#include "text/format.h"
#include "text/text.h"

namespace app::signing {
namespace {

constexpr size_t kTimestampChars = 32;

std::vector<app::minisign::PublicKey> deploymentKeys() {
    std::vector<app::minisign::PublicKey> keys;
    for (const std::u16string& line : app::deploy::servers().publicKeys) {
        app::minisign::PublicKey key;
        if (!line.empty() && app::minisign::parsePublicKey(text::toUtf8(line), key)) keys.push_back(key);
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

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// A document of the product folder may be signed under its bare name.
bool bareNameAllowed(const std::u16string& path) {
    std::u16string folder = kProductFolder;
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path.find(u'/', folder.size()) == std::u16string::npos;
}

std::u16string bareName(const std::u16string& path) { return path.substr(path.rfind(u'/') + 1); }

uint64_t remembered(const std::u16string& key) {
    return readNumber(app::settings::readString(kSectionSignatures, key, u"", kTimestampChars, app::settings::kOvUpdateIni));
}

}  // namespace

bool required() {
    for (const std::u16string& key : app::deploy::servers().publicKeys)
        if (!key.empty()) return true;
    return false;
}

std::u16string documentPath(const std::u16string& url) {
    std::string u = text::toUtf8(url);
    size_t scheme = u.find("://");
    size_t start = scheme == std::string::npos ? std::string::npos : u.find('/', scheme + 3);
    if (start == std::string::npos) return {};
    size_t end = u.find_first_of("?#", start);
    std::string raw = percentDecoded(u.substr(start + 1, end == std::string::npos ? end : end - start - 1));
    std::vector<std::string> steps;
    for (size_t at = 0; at <= raw.size();) {
        size_t slash = std::min(raw.find('/', at), raw.size());
        std::string step = raw.substr(at, slash - at);
        if (step == "..") {
            if (steps.empty()) return {};
            steps.pop_back();
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        at = slash + 1;
    }
    std::string path;
    for (const std::string& step : steps) path += (path.empty() ? "" : "/") + step;
    // The path is also a key of the settings file, where these characters cannot stand.
    if (std::any_of(path.begin(), path.end(), [](char c) { return c == '=' || (c >= 0 && c < ' '); })) return {};
    return text::fromUtf8(path);
}

bool namesDocument(const std::u16string& file, const std::u16string& path) {
    return !path.empty() && (file == path || (bareNameAllowed(path) && file == bareName(path)));
}

Judgement judge(const std::string& document, const std::string& signatureText, const std::u16string& path,
                const Policy& policy) {
    if (policy.keys.empty()) return refused(u"the deployment file's public key is not a minisign key");
    if (path.empty()) return refused(u"its URL has no path to sign it under");
    app::minisign::Verification v = app::minisign::verify(document, signatureText, policy.keys);
    if (v.status == app::minisign::Status::UnknownKey)
        return refused(text::format(u"signed with key %s, which the deployment does not trust",
                                    text::fromUtf8(app::minisign::keyIdText(v.keyId))));
    if (v.status != app::minisign::Status::Verified)
        return refused(text::format(u"signature %s", text::fromUtf8(app::minisign::statusText(v.status))));
    // The legacy kind signs the bytes themselves, and nothing signed says which kind it is.
    if (!v.prehashed) return refused(u"legacy signature (minisign -l); only prehashed signatures are accepted");
    std::u16string file = text::fromUtf8(v.fields.file);
    if (!v.fields.hasFile || !namesDocument(file, path))
        return refused(text::format(u"signed for file \"%s\", not %s", file, path));
    if (!v.fields.hasTimestamp) return refused(u"the trusted comment has no timestamp");
    uint64_t at = v.fields.timestamp;
    if (at > policy.now && at - policy.now > kFutureAllowance)
        return refused(text::format(u"signed at %s, more than a day ahead of this machine's clock %s (future)",
                                    number(at), number(policy.now)));
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

std::u16string refusal(const std::string& document, const std::string& signatureText, const std::u16string& url) {
    return refusalOfPath(document, signatureText, documentPath(url));
}

std::u16string refusalOfPath(const std::string& document, const std::string& signatureText,
                             const std::u16string& path) {
    // The newest timestamp is read, compared and written as one step.
    static std::mutex remembering;
    std::lock_guard<std::mutex> lock(remembering);
    Policy policy;
    policy.keys = deploymentKeys();
    policy.now = secondsNow();
    policy.maxAgeDays = app::deploy::servers().maxAgeDays;
    if (!path.empty()) policy.newestAccepted = remembered(path);
    // Earlier versions remembered the product documents under their bare names.
    if (bareNameAllowed(path)) policy.newestAccepted = std::max(policy.newestAccepted, remembered(bareName(path)));
    Judgement j = judge(document, signatureText, path, policy);
    if (!j.accepted) return j.reason;
    if (j.timestamp > policy.newestAccepted)
        app::settings::writeString(kSectionSignatures, path, number(j.timestamp), app::settings::kOvUpdateIni);
    return {};
}

std::u16string refusalLine(const std::u16string& location, const std::u16string& reason) {
    return text::format(u"document %s refused: %s", location, reason);
}

}  // namespace app::signing
