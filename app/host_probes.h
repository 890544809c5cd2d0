// Probes of the host shared by the whole agent: player folder, registry path strings,
// file versions, file existence.
#pragma once
#include <cstdint>
#include <string>

namespace app {

// The player's App Paths key under HKEY_LOCAL_MACHINE; its default value is Orvix.exe's path.
inline constexpr char16_t kAppPathsKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe";

std::u16string playerFolderWithSlash();
std::u16string playerFolderWithoutSlash();

// Registry path string: hive + "$$$$" + subkey + "$$$$" + value name (" " = default value).
// On success the string is replaced by the value (folder form: by the folder of the file
// it names, when it names an existing file); on failure it is unchanged.
bool readRegistryPath(std::u16string& path);
bool readRegistryPathFolder(std::u16string& path);

// "%d.%d.%d.%d" of the file version, empty without a version resource.
std::u16string fileVersion(const std::u16string& path);
// 1 when a is newer, -1 when older, 0 otherwise (also when either lacks four parts).
int compareVersions(const std::u16string& a, const std::u16string& b);
// True for four decimal numbers of at most five digits each, joined by ".": a version that
// compares as it reads.
bool isVersionText(const std::u16string& version);
// The file version of the registered player (App Paths), empty when there is none.
std::u16string installedPlayerVersion();

struct VersionRecord {
    std::u16string path;
    uint16_t fileVersion[4] = {0, 0, 0, 0};
    uint16_t productVersion[4] = {0, 0, 0, 0};
    uint32_t fileFlags = 0, fileOS = 0, fileType = 0, fileSubtype = 0;
    std::u16string companyName, productName, fileDescription;
};
VersionRecord versionRecord(const std::u16string& path);

// "/" read as "\"; true iff the path exists and is not a directory.
bool fileExists(const std::u16string& path);

}  // namespace app
