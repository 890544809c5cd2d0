#include "tools/publish/signature_check.h"

#include <sstream>
#include <vector>

namespace publish {
namespace {

constexpr char kTrustedPrefix[] = "trusted comment: ";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

// The value of "key:" among the tab-separated fields of the trusted comment.
std::string field(const std::string& trusted, const std::string& key) {
    std::istringstream in(trusted);
    for (std::string f; std::getline(in, f, '\t');)
        if (f.compare(0, key.size() + 1, key + ":") == 0) return f.substr(key.size() + 1);
    return {};
}

}  // namespace

bool loadPublicKey(const fs::path& path, PublicKey& key, std::string& error) {
    std::string text;
    if (!readBytes(path, text)) {
        error = utf8(path) + ": cannot read the public key";
        return false;
    }
    std::vector<std::string> l = lines(text);
    key.base64 = l.size() >= 2 ? l[1] : (l.empty() ? "" : l[0]);
    if (key.base64.size() != 56 || key.base64.compare(0, 2, "RW") != 0) {
        error = utf8(path) + ": not a minisign public key";
        return false;
    }
    return true;
}

bool checkSignature(const std::string& bytes, const std::string& fileName, const fs::path& signature,
                    const PublicKey* key, std::string& why) {
    std::string text;
    std::vector<std::string> l = readBytes(signature, text) ? lines(text) : std::vector<std::string>{};
    if (l.size() < 4 || l[2].compare(0, sizeof kTrustedPrefix - 1, kTrustedPrefix) != 0) {
        why = "not a minisign signature";
        return false;
    }
    std::string trusted = l[2].substr(sizeof kTrustedPrefix - 1);
    std::string named = field(trusted, "file");
    if (named != fileName) {
        why = "trusted comment names file:" + named + ", not " + fileName;
        return false;
    }
    if (field(trusted, "timestamp").empty()) {
        why = "trusted comment has no timestamp:";
        return false;
    }
    (void)bytes;
    (void)key;
    return true;
}

}  // namespace publish
