// The registry of the POSIX host: one file in the Windows .reg export format, read
// again on every query (the player's installer and the tests write it between runs).
//
//   Windows Registry Editor Version 5.00
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Key]
//   @="default value"
//   "name"="C:\\path with \"quotes\""
//   "count"=dword:00000001        <- other types are read as their text
//
// A file that is not in this form (missing header, a line that is none of the above,
// an unterminated string) answers no query at all.
#include "platform/registry.h"
#include <cstdlib>
#include <vector>
#include "platform/files.h"
#include "platform/posix/host.h"
#include "platform/system.h"
#include "text/text.h"

namespace plat {

namespace {

constexpr size_t kMaxBytes = 16 * 1024 * 1024;

std::string registryFile() {
    const char* file = std::getenv("OVUPDATE_REGISTRY");
    if (file && *file) return file;
    std::u16string appData = appDataFolder();
    if (appData.empty()) return std::string();
    return nativePath(appData + u"\\OvUpdate.registry.reg");
}

bool hiveOf(const std::u16string& name, Hive& hive) {
    static const struct {
        const char16_t* name;
        Hive hive;
    } names[] = {
        {u"HKEY_LOCAL_MACHINE", Hive::LocalMachine}, {u"HKLM", Hive::LocalMachine},
        {u"HKEY_CURRENT_USER", Hive::CurrentUser},   {u"HKCU", Hive::CurrentUser},
        {u"HKEY_CLASSES_ROOT", Hive::ClassesRoot},   {u"HKCR", Hive::ClassesRoot},
    };
    for (const auto& n : names) {
        if (text::equalsNoCase(name, n.name)) {
            hive = n.hive;
            return true;
        }
    }
    return false;
}

std::u16string trimSlashes(std::u16string key) {
    while (!key.empty() && key.back() == u'\\') key.pop_back();
    while (!key.empty() && key.front() == u'\\') key.erase(0, 1);
    return key;
}

// A quoted string starting at text[pos] == '"', with \\ and \" escapes; pos ends after
// the closing quote. False when it is not terminated.
bool readQuoted(const std::u16string& text, size_t& pos, std::u16string& out) {
    out.clear();
    for (++pos; pos < text.size(); ++pos) {
        char16_t c = text[pos];
        if (c == u'"') {
            ++pos;
            return true;
        }
        if (c == u'\\' && pos + 1 < text.size() && (text[pos + 1] == u'\\' || text[pos + 1] == u'"'))
            c = text[++pos];
        out += c;
    }
    return false;
}

struct Query {
    Hive hive;
    std::u16string key, valueName;
    bool found = false;
    std::u16string value;
};

// One value line: @=... or "name"=...; false when malformed.
bool valueLine(const std::u16string& line, std::u16string& name, std::u16string& data) {
    size_t pos = 0;
    if (line[0] == u'@') {
        name.clear();
        pos = 1;
    } else if (line[0] != u'"' || !readQuoted(line, pos, name)) {
        return false;
    }
    while (pos < line.size() && (line[pos] == u' ' || line[pos] == u'\t')) ++pos;
    if (pos >= line.size() || line[pos] != u'=') return false;
    std::u16string rest = text::trim(line.substr(pos + 1));
    if (rest.empty()) return false;
    if (rest[0] != u'"') {
        data = rest;  // dword:..., hex(...):..., or "-" for a deleted value
        return true;
    }
    size_t end = 0;
    return readQuoted(rest, end, data) && text::trim(rest.substr(end)).empty();
}

// Walks the whole file; the last definition of the value wins, as an import would.
bool scan(const std::u16string& content, Query& query) {
    std::vector<std::u16string> lines = text::split(content, u"\n");
    size_t i = 0;
    auto nextLine = [&](std::u16string& line) {
        while (i < lines.size()) {
            line = text::trim(lines[i++]);
            if (!line.empty() && line[0] != u';') return true;
        }
        return false;
    };
    std::u16string line;
    if (!nextLine(line) || (line != u"Windows Registry Editor Version 5.00" && line != u"REGEDIT4")) return false;
    bool inKey = false, skipping = false;
    while (nextLine(line)) {
        if (line[0] == u'[') {
            if (line.back() != u']') return false;
            std::u16string path = line.substr(1, line.size() - 2);
            skipping = !path.empty() && path[0] == u'-';  // a deleted key: its body is ignored
            size_t slash = path.find(u'\\');
            Hive hive;
            inKey = !skipping && hiveOf(path.substr(0, slash), hive) && hive == query.hive &&
                    text::equalsNoCase(trimSlashes(slash == std::u16string::npos ? u"" : path.substr(slash)),
                                       query.key);
            continue;
        }
        // Binary and multi-string data continue on the next lines after a trailing "\".
        while (line.back() == u'\\' && line.find(u"=\"") == std::u16string::npos && i < lines.size())
            line = line.substr(0, line.size() - 1) + text::trim(lines[i++]);
        std::u16string name, data;
        if (!valueLine(line, name, data)) return false;
        if (inKey && text::equalsNoCase(name, query.valueName)) {
            query.found = data != u"-";
            query.value = query.found ? data : std::u16string();
        }
    }
    return true;
}

}  // namespace

bool readRegistryString(Hive hive, const std::u16string& subKey, const std::u16string& valueName,
                        size_t bufferChars, std::u16string& value) {
    std::string file = registryFile();
    std::string bytes;
    if (file.empty() || !posix::readFileCapped(file, kMaxBytes, bytes)) return false;
    Query query{hive, trimSlashes(subKey), valueName, false, {}};
    if (!scan(posix::decodeTextFile(bytes), query) || !query.found) return false;
    if (query.value.size() + 1 > bufferChars) return false;
    value = query.value;
    return true;
}

}  // namespace plat
