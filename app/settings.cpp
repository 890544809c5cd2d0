#include "app/settings.h"

#include "platform/files.h"
#include "platform/profile.h"
#include "platform/system.h"

namespace app::settings {

namespace {
constexpr char16_t kDataSubfolder[] = u"\\Lumora Video\\Orvix";
}

// Derived on every call: the shell's answer does not change while the process runs, and
// nothing is shared between threads this way.
std::u16string dataFolder() {
    std::u16string appData = plat::appDataFolder();
    if (appData.empty()) return {};
    return appData + kDataSubfolder;
}

std::u16string resolveSettingsFile(const std::u16string& name, bool integerRead) {
    if (name.find(u'\\') != std::u16string::npos) return name;
    std::u16string folder = dataFolder();
    if (integerRead && !plat::pathExists(folder)) folder = plat::parentFolder(plat::executablePath());
    return folder + u"\\" + name;
}

int readInt(const std::u16string& section, const std::u16string& key, int defaultValue,
            const std::u16string& file) {
    return plat::getProfileInt(section, key, defaultValue, resolveSettingsFile(file, true));
}

std::u16string readString(const std::u16string& section, const std::u16string& key,
                          const std::u16string& defaultValue, size_t bufferChars, const std::u16string& file) {
    return plat::getProfileString(section, key, defaultValue, bufferChars, resolveSettingsFile(file, false));
}

void writeString(const std::u16string& section, const std::u16string& key, const std::u16string& value,
                 const std::u16string& file) {
    plat::writeProfileString(section, key, value, resolveSettingsFile(file, false));
}

}  // namespace app::settings
