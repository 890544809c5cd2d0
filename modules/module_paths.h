// Folders and file names of the module update, and the checks that keep names from the
// network inside the player folder.
#pragma once
#include <string>

namespace modules::paths {

inline constexpr char16_t kWorkingFolder[] = u"OvUpdate";
inline constexpr char16_t kModuleList[] = u"update.xml";
inline constexpr char16_t kStagingList[] = u"update.pre.xml";
inline constexpr char16_t kStagingFolder[] = u"bin";
inline constexpr char16_t kBackupSuffix[] = u".bak";
inline constexpr char16_t kRetiredSuffix[] = u".old";
// Beside a module the swap adds (nothing was installed under its name): the mark that
// tells a rollback, also one after a crash, to take the new file away again.
inline constexpr char16_t kAddedSuffix[] = u".added";

// Where the archive of a module lies: sourceDir + "/bin/" + name + ".zip", the name's "\"
// carried as "/" (a module "plugins\codec.dll" is served at bin/plugins/codec.dll.zip),
// escaped and with "." and ".." steps resolved.
std::u16string archiveUrl(const std::u16string& sourceDir, const std::u16string& name);

// Where a patch of a module is served, relative to the source folder:
// "bin/" + name ("\" carried as "/") + "." + the MD5 of the file it applies to + ".patch",
// beside the module's archive.
std::u16string patchPlace(const std::u16string& name, const std::u16string& fromMd5);
// The URL of a place below the source folder, escaped, "." and ".." steps resolved.
std::u16string servedUrl(const std::u16string& sourceDir, const std::u16string& place);

// The paths of the working folder of a run whose base folder is base, each built here only.
// The staging list's path joins with "/", as the log has always shown it.
std::u16string workingFolder(const std::u16string& base);   // base\OvUpdate
std::u16string moduleListPath(const std::u16string& base);  // base\OvUpdate\update.xml
std::u16string stagingFolder(const std::u16string& base);   // base\OvUpdate\bin
std::u16string stagingListPath(const std::u16string& base);  // base\OvUpdate/update.pre.xml

// The agent's own folder: where the module update works when no player folder exists.
std::u16string agentFolder();

// Base folder of a run: root when something exists there, else the agent's own folder.
std::u16string baseFolder(const std::u16string& root);

// Where the swap puts a module: the player folder + "\" + the name with every ".\Orvix"
// removed (a name under ".\Orvix\" is checked against the player's own subfolder but
// installed directly in the player folder).
std::u16string oldFileFor(const std::u16string& playerFolder, const std::u16string& name);

// True when path, once canonical, lies strictly inside folder and passes through no link
// or junction below it. A module name with parent steps or a drive, a staging entry
// pointing elsewhere, or a sub-folder linked to another place fails this.
bool staysInside(const std::u16string& path, const std::u16string& folder);

}  // namespace modules::paths
