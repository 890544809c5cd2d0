// Path strings of the core ("\" separated). Pure text work, the same on every host.
#include <vector>
#include "platform/files.h"
#include "text/text.h"

namespace plat {

std::u16string parentFolder(const std::u16string& path) {
    size_t pos = path.rfind(u'\\');
    return pos == std::u16string::npos ? std::u16string() : path.substr(0, pos);
}

std::u16string fileNameOf(const std::u16string& path) {
    size_t pos = path.rfind(u'\\');
    return pos == std::u16string::npos ? path : path.substr(pos + 1);
}

std::u16string canonicalPath(const std::u16string& path) {
    std::u16string p = path;
    for (auto& c : p)
        if (c == u'/') c = u'\\';
    bool absolute = !p.empty() && p[0] == u'\\';
    bool trailing = p.size() > 1 && p.back() == u'\\';
    std::vector<std::u16string> parts = text::split(p, u"\\");
    // A drive ("C:") is a root that ".." cannot climb above.
    bool drive = !parts.empty() && parts[0].size() == 2 && parts[0][1] == u':';
    size_t floor = drive ? 1 : 0;
    std::vector<std::u16string> kept;
    for (size_t i = 0; i < parts.size(); ++i) {
        const auto& part = parts[i];
        if (part == u".") continue;
        if (part == u"..") {
            if (kept.size() > floor && kept.back() != u"..") kept.pop_back();
            else if (!absolute && !drive) kept.push_back(part);  // a relative path keeps climbing
            continue;
        }
        kept.push_back(part);
    }
    std::u16string out = absolute ? u"\\" : u"";
    for (size_t i = 0; i < kept.size(); ++i) {
        if (i) out += u'\\';
        out += kept[i];
    }
    if (drive && kept.size() == 1) out += u'\\';
    else if (trailing && !kept.empty()) out += u'\\';
    return out;
}

bool isInsideFolder(const std::u16string& path, const std::u16string& folder, bool allowSame) {
    std::u16string p = canonicalPath(path), f = canonicalPath(folder);
    if (f.empty() || p.empty()) return false;
    while (p.size() > 1 && p.back() == u'\\') p.pop_back();
    while (f.size() > 1 && f.back() == u'\\') f.pop_back();
    if (text::equalsNoCase(p, f)) return allowSame;
    std::u16string prefix = f.back() == u'\\' ? f : f + u'\\';
    return p.size() > prefix.size() && text::equalsNoCase(p.substr(0, prefix.size()), prefix);
}

}  // namespace plat
