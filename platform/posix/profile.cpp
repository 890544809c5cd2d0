// Initialisation files read and written the way the Windows private-profile functions
// do it for the agent's keys: sections and keys matched without regard to case and
// surrounding blanks, the first match wins, a value loses its blanks and one pair of
// surrounding quotes. Files are UTF-8 (a byte-order mark is skipped) or UTF-16LE with
// its byte-order mark; larger than kMaxBytes counts as missing.
#include "platform/profile.h"
#include <cstdint>
#include <mutex>
#include <vector>
#include "platform/files.h"
#include "platform/posix/host.h"
#include "text/text.h"

namespace plat {

namespace {

constexpr size_t kMaxBytes = 16 * 1024 * 1024;
// GetPrivateProfileIntW reads the value through a 30-character buffer.
constexpr size_t kIntChars = 30;

struct Profile {
    std::vector<std::u16string> lines;
    bool utf16 = false, utf8Bom = false;
    std::u16string eol = u"\r\n";
};

bool loadProfile(const std::string& native, Profile& profile) {
    std::string bytes;
    if (!posix::readFileCapped(native, kMaxBytes, bytes)) return false;
    std::u16string content = posix::decodeTextFile(bytes, &profile.utf16, &profile.utf8Bom);
    if (!content.empty() && content.find(u"\r\n") == std::u16string::npos) profile.eol = u"\n";
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find(u'\n', start);
        if (end == std::u16string::npos) end = content.size();
        std::u16string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == u'\r') line.pop_back();
        profile.lines.push_back(std::move(line));
        start = end + 1;
    }
    return true;
}

// Section name of a "[name]" line; false for other lines.
bool sectionOf(const std::u16string& line, std::u16string& name) {
    std::u16string t = text::trim(line);
    if (t.empty() || t[0] != u'[') return false;
    size_t close = t.find(u']');
    name = text::trim(t.substr(1, close == std::u16string::npos ? std::u16string::npos : close - 1));
    return true;
}

bool keyOf(const std::u16string& line, std::u16string& key, std::u16string& value) {
    size_t eq = line.find(u'=');
    if (eq == std::u16string::npos) return false;
    key = text::trim(line.substr(0, eq));
    value = text::trim(line.substr(eq + 1));
    return true;
}

// Line range [first, end) of the body of the first section named section; false
// when there is none. first is the header line.
bool findSection(const Profile& profile, const std::u16string& section, size_t& header, size_t& end) {
    std::u16string name, wanted = text::trim(section);
    for (size_t i = 0; i < profile.lines.size(); ++i) {
        if (!sectionOf(profile.lines[i], name) || !text::equalsNoCase(name, wanted)) continue;
        header = i;
        end = i + 1;
        while (end < profile.lines.size() && !sectionOf(profile.lines[end], name)) ++end;
        return true;
    }
    return false;
}

bool findKey(const Profile& profile, size_t from, size_t end, const std::u16string& key, size_t& line,
             std::u16string& value) {
    std::u16string k, wanted = text::trim(key);
    for (size_t i = from; i < end; ++i) {
        if (keyOf(profile.lines[i], k, value) && text::equalsNoCase(k, wanted)) {
            line = i;
            return true;
        }
    }
    return false;
}

bool lookup(const std::u16string& section, const std::u16string& key, const std::u16string& file,
            std::u16string& value) {
    Profile profile;
    size_t header, end, line;
    if (!loadProfile(nativePath(file), profile) || !findSection(profile, section, header, end) ||
        !findKey(profile, header + 1, end, key, line, value))
        return false;
    if (value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    return true;
}

std::string encode(const Profile& profile) {
    std::u16string content;
    for (const auto& line : profile.lines) content += line + profile.eol;
    if (!profile.utf16) return (profile.utf8Bom ? "\xEF\xBB\xBF" : "") + text::toUtf8(content);
    std::string bytes = "\xFF\xFE";
    for (char16_t c : content) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

// Windows integer parse of a profile value: optional sign, then decimal digits or a
// 0x / 0o / 0b prefixed number, stopping at the first other character; wraps at 32 bits.
int parseProfileInt(const std::u16string& s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
    unsigned base = 10;
    if (i + 1 < s.size() && s[i] == u'0') {
        char16_t p = static_cast<char16_t>(s[i + 1] | 0x20);
        base = p == u'x' ? 16 : p == u'o' ? 8 : p == u'b' ? 2 : 10;
        if (base != 10) i += 2;
    }
    uint32_t v = 0;
    for (; i < s.size(); ++i) {
        char16_t c = s[i];
        unsigned digit = c >= u'0' && c <= u'9'                     ? c - u'0'
                         : (c | 0x20) >= u'a' && (c | 0x20) <= u'f' ? (c | 0x20) - u'a' + 10
                                                                    : 99;
        if (digit >= base) break;
        v = v * base + digit;
    }
    return static_cast<int>(negative ? 0u - v : v);
}

}  // namespace

int getProfileInt(const std::u16string& section, const std::u16string& key, int defaultValue,
                  const std::u16string& file) {
    std::u16string value;
    if (!lookup(section, key, file, value) || value.empty()) return defaultValue;
    return parseProfileInt(value.substr(0, kIntChars - 1));
}

std::u16string getProfileString(const std::u16string& section, const std::u16string& key,
                                const std::u16string& defaultValue, size_t bufferChars,
                                const std::u16string& file) {
    std::u16string value;
    if (!lookup(section, key, file, value)) {
        value = defaultValue;
        while (!value.empty() && value.back() == u' ') value.pop_back();
    }
    if (bufferChars == 0) return std::u16string();
    if (value.size() > bufferChars - 1) value.resize(bufferChars - 1);
    return value;
}

bool writeProfileString(const std::u16string& section, const std::u16string& key, const std::u16string& value,
                        const std::u16string& file) {
    if (file.empty() || text::trim(section).empty() || text::trim(key).empty()) return false;
    // Writers of this process take turns, so that no read-modify-write loses another's key.
    static std::mutex writing;
    std::lock_guard<std::mutex> lock(writing);
    std::string native = nativePath(file);
    Profile profile;
    if (pathExists(file) && !loadProfile(native, profile)) return false;  // never replace what we cannot read
    std::u16string entry = text::trim(key) + u"=" + value;
    size_t header, end, line;
    std::u16string old;
    if (!findSection(profile, section, header, end)) {
        if (!profile.lines.empty() && !text::trim(profile.lines.back()).empty()) profile.lines.push_back(u"");
        profile.lines.push_back(u"[" + text::trim(section) + u"]");
        profile.lines.push_back(entry);
    } else if (findKey(profile, header + 1, end, key, line, old)) {
        std::u16string existingKey, ignored;
        keyOf(profile.lines[line], existingKey, ignored);
        profile.lines[line] = existingKey + u"=" + value;
    } else {
        size_t at = end;  // after the section's last non-blank line
        while (at > header + 1 && text::trim(profile.lines[at - 1]).empty()) --at;
        profile.lines.insert(profile.lines.begin() + static_cast<long>(at), entry);
    }
    return posix::replaceFileContents(native, encode(profile), 0644);
}

}  // namespace plat
