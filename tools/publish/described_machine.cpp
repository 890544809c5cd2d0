#include "tools/publish/described_machine.h"

#include "app/host_probes.h"
#include "platform/text.h"

namespace publish {
namespace {

constexpr char16_t kRegionKey[] = u"Kavo.FDS";
const char16_t* const kRegionValues[] = {u"area", u"country", u"city", u"province", u"net"};
constexpr char16_t kSeparator[] = u"$$$$";
constexpr char16_t kUnknownFolder[] = u"<player folder>";

bool endsWithNoCase(const std::u16string& s, const std::u16string& tail) {
    return s.size() >= tail.size() && text::equalsNoCase(s.substr(s.size() - tail.size()), tail);
}

}  // namespace

DescribedMachine::DescribedMachine(MachineDescription d)
    : m_d(std::move(d)), m_folder(m_d.installedDir.empty() ? kUnknownFolder : m_d.installedDir) {}

bool DescribedMachine::described(const std::u16string& path, std::u16string& version) const {
    for (const auto& [name, v] : m_d.files) {
        if (text::equalsNoCase(path, name) || endsWithNoCase(path, u"\\" + name)) {
            version = v;
            return true;
        }
    }
    return false;
}

bool DescribedMachine::fileExists(const std::u16string& path) {
    std::u16string version;
    if (text::equalsNoCase(path, playerExe()) || described(path, version)) return true;
    return !m_d.installedDir.empty() && ::fileExists(path);
}

std::u16string DescribedMachine::fileVersion(const std::u16string& path) {
    std::u16string version;
    if (text::equalsNoCase(path, playerExe())) return m_d.playerVersion;
    if (described(path, version)) return version;
    return m_d.installedDir.empty() ? std::u16string() : ::fileVersion(path);
}

// The player's App Paths entry names the player; the region values are the ones given.
bool DescribedMachine::readRegistry(std::u16string& path, bool folder) const {
    std::vector<std::u16string> parts = text::split(path, kSeparator);
    if (parts.size() != 3) return false;
    if (text::equalsNoCase(parts[1], kAppPathsKey)) {
        path = folder ? m_folder : playerExe();
        return true;
    }
    if (!text::equalsNoCase(parts[1], kRegionKey)) return false;
    for (size_t i = 0; i < m_d.regions.size() && i < std::size(kRegionValues); ++i) {
        if (text::equalsNoCase(parts[2], kRegionValues[i])) {
            path = m_d.regions[i];
            return true;
        }
    }
    return false;
}

bool DescribedMachine::readRegistryPath(std::u16string& path) { return readRegistry(path, false); }
bool DescribedMachine::readRegistryPathFolder(std::u16string& path) { return readRegistry(path, true); }

}  // namespace publish
