#include "tools/publish/served_tree.h"

#include "platform/text.h"

namespace publish {
namespace {

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

}  // namespace

fs::path servedFile(const fs::path& root, const std::u16string& url) {
    std::string u = text::toUtf8(url);
    size_t scheme = u.find("://");
    if (scheme == std::string::npos) return {};
    size_t path = u.find('/', scheme + 3);
    if (path == std::string::npos) return {};
    std::string relative = percentDecoded(u.substr(path + 1, u.find_first_of("?#", path) - path - 1));
    fs::path file = (root / fromUtf8Path(relative)).lexically_normal();
    std::string inside = utf8(file.lexically_relative(root.lexically_normal()));
    if (relative.empty() || inside.empty() || inside.compare(0, 2, "..") == 0) return {};
    return file;
}

std::string shown(const fs::path& root, const fs::path& path) {
    return path.lexically_normal().lexically_relative(root.lexically_normal()).generic_u8string();
}

}  // namespace publish
