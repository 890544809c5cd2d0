#include "tools/publish/described_machine.h"

#include "app/host_probes.h"
#include "text/text.h"

namespace publish {
namespace {

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
    return !m_d.installedDir.empty() && app::fileExists(path);
}

std::u16string DescribedMachine::fileVersion(const std::u16string& path) {
    std::u16string version;
    if (text::equalsNoCase(path, playerExe())) return m_d.playerVersion;
    if (described(path, version)) return version;
    return m_d.installedDir.empty() ? std::u16string() : app::fileVersion(path);
}

// The player's App Paths entry names the player; no other value is known. (The region
// values go to the walk as given, not through the registry.)
bool DescribedMachine::readRegistry(std::u16string& path, bool folder) const {
    std::vector<std::u16string> parts = text::split(path, kSeparator);
    if (parts.size() != 3 || !text::equalsNoCase(parts[1], app::kAppPathsKey)) return false;
    path = folder ? m_folder : playerExe();
    return true;
}

bool DescribedMachine::readRegistryPath(std::u16string& path) { return readRegistry(path, false); }
bool DescribedMachine::readRegistryPathFolder(std::u16string& path) { return readRegistry(path, true); }

}  // namespace publish
