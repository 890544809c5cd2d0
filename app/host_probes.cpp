#include "app/host_probes.h"

#include <map>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "text/format.h"
#include "platform/registry.h"
#include "text/text.h"
#include "platform/version_resource.h"

namespace app {

namespace {

constexpr char16_t kRegistrySeparator[] = u"$$$$";
constexpr size_t kPlayerPathChars = 256;
constexpr size_t kPlayerPathCharsNoSlash = 260;
constexpr size_t kRegistryValueChars = 520;
constexpr size_t kVersionPathChars = 519;

// True when path names something that exists and whose attribute word is not exactly
// "directory" (a read-only or hidden folder counts as a file here, as it always has).
bool namesNonFolder(const std::u16string& path) {
    uint32_t attributes = 0;
    return plat::fileAttributes(path, attributes) && attributes != plat::kAttributeDirectory;
}

// A file's version resource is read once per identity in a run: the rules ask for the
// player's version with every update element, and the file does not change under them.
class VersionMemo {
public:
    bool read(const std::u16string& path, plat::VersionResource& out) {
        plat::FileIdentity identity;
        if (!plat::fileIdentity(path, identity)) return plat::readVersionResource(path, out);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto known = m_entries.find(path);
            if (known != m_entries.end() && known->second.identity == identity) {
                out = known->second.resource;
                return known->second.found;
            }
        }
        Entry entry;
        entry.identity = identity;
        entry.found = plat::readVersionResource(path, entry.resource);
        out = entry.resource;
        bool found = entry.found;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_entries.size() >= kMaxEntries) m_entries.clear();
        m_entries[path] = std::move(entry);
        return found;
    }

private:
    static constexpr size_t kMaxEntries = 4096;
    struct Entry {
        plat::FileIdentity identity;
        plat::VersionResource resource;
        bool found = false;
    };
    std::mutex m_mutex;
    std::map<std::u16string, Entry> m_entries;
};

bool readVersionOnce(const std::u16string& path, plat::VersionResource& out) {
    static VersionMemo* memo = new VersionMemo;  // never destroyed: threads may outlive main
    return memo->read(path, out);
}

bool hiveFromName(const std::u16string& name, plat::Hive& hive) {
    if (text::equalsNoCase(name, u"HKEY_LOCAL_MACHINE")) hive = plat::Hive::LocalMachine;
    else if (text::equalsNoCase(name, u"HKEY_CLASSES_ROOT")) hive = plat::Hive::ClassesRoot;
    else if (text::equalsNoCase(name, u"HKEY_CURRENT_USER")) hive = plat::Hive::CurrentUser;
    else return false;
    return true;
}

bool readRegistryPathValue(const std::u16string& path, std::u16string& value) {
    std::vector<std::u16string> pieces = text::split(path, kRegistrySeparator);
    if (pieces.size() < 3) return false;
    plat::Hive hive;
    if (!hiveFromName(pieces[0], hive)) return false;
    std::u16string valueName = pieces[2] == u" " ? std::u16string() : pieces[2];
    return plat::readRegistryString(hive, pieces[1], valueName, kRegistryValueChars, value);
}

// A value read but empty counts as a failure, and every failure leaves the caller's
// string as it was.
bool replaceWith(std::u16string& path, const std::u16string& value) {
    if (value.empty()) return false;
    path = value;
    return true;
}

}  // namespace

std::u16string playerFolderWithSlash() {
    std::u16string value;
    if (!plat::readRegistryString(plat::Hive::LocalMachine, kAppPathsKey, u"", kPlayerPathChars, value)) return {};
    // A registration naming a vanished file is kept whole, so nothing is loaded from it.
    if (namesNonFolder(value)) {
        size_t slash = value.rfind(u'\\');
        if (slash != std::u16string::npos) value.erase(slash + 1);
    }
    return value;
}

std::u16string playerFolderWithoutSlash() {
    std::u16string value;
    if (!plat::readRegistryString(plat::Hive::LocalMachine, kAppPathsKey, u"", kPlayerPathCharsNoSlash, value))
        return {};
    if (!plat::pathExists(value)) return {};
    return plat::parentFolder(value);
}

bool readRegistryPath(std::u16string& path) {
    std::u16string value;
    if (!readRegistryPathValue(path, value)) return false;
    return replaceWith(path, value);
}

bool readRegistryPathFolder(std::u16string& path) {
    std::u16string value;
    if (!readRegistryPathValue(path, value)) return false;
    if (namesNonFolder(value)) {
        size_t slash = value.rfind(u'\\');
        if (slash != std::u16string::npos) value.erase(slash);
    }
    return replaceWith(path, value);
}

std::u16string fileVersion(const std::u16string& path) {
    plat::VersionResource resource;
    if (!readVersionOnce(path, resource)) return {};
    const uint16_t* v = resource.fileVersion;
    return text::format(u"%d.%d.%d.%d", v[0], v[1], v[2], v[3]);
}

int compareVersions(const std::u16string& a, const std::u16string& b) {
    if (a.empty() && b.empty()) return 0;
    if (a.empty()) return -1;
    if (b.empty()) return 1;
    std::vector<std::u16string> left = text::split(a, u".");
    std::vector<std::u16string> right = text::split(b, u".");
    if (left.size() != 4 || right.size() != 4) return 0;
    for (size_t i = 0; i < 4; ++i) {
        int x = text::atoi(left[i]);
        int y = text::atoi(right[i]);
        if (x != y) return x > y ? 1 : -1;
    }
    return 0;
}

bool isVersionText(const std::u16string& version) {
    std::vector<std::u16string> parts = text::split(version, u".");
    if (parts.size() != 4) return false;
    for (const std::u16string& part : parts) {
        if (part.empty() || part.size() > 5) return false;
        for (char16_t c : part)
            if (c < u'0' || c > u'9') return false;
    }
    return true;
}

std::u16string installedPlayerVersion() {
    std::u16string player;
    if (!plat::readRegistryString(plat::Hive::LocalMachine, kAppPathsKey, u"", kPlayerPathCharsNoSlash, player))
        return {};
    return namesNonFolder(player) ? fileVersion(player) : std::u16string();
}

VersionRecord versionRecord(const std::u16string& path) {
    VersionRecord record;
    record.path = path.substr(0, kVersionPathChars);
    plat::VersionResource resource;
    if (!readVersionOnce(path, resource)) return record;
    for (int i = 0; i < 4; ++i) {
        record.fileVersion[i] = resource.fileVersion[i];
        record.productVersion[i] = resource.productVersion[i];
    }
    record.fileFlags = resource.fileFlags;
    record.fileOS = resource.fileOS;
    record.fileType = resource.fileType;
    record.fileSubtype = resource.fileSubtype;
    record.companyName = resource.companyName.substr(0, kVersionPathChars);
    record.productName = resource.productName.substr(0, kVersionPathChars);
    record.fileDescription = resource.fileDescription.substr(0, kVersionPathChars);
    return record;
}

bool fileExists(const std::u16string& path) {
    if (path.empty()) return false;
    std::u16string windowsPath = path;
    for (char16_t& c : windowsPath)
        if (c == u'/') c = u'\\';
    uint32_t attributes = 0;
    return plat::fileAttributes(windowsPath, attributes) && !(attributes & plat::kAttributeDirectory);
}

}  // namespace app
