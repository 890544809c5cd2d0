// Case-insensitive lookup of a name in a folder, as Windows file names behave. Each folder
// asked about gets an index of its names by lower-cased name, so a lookup costs one stat
// of the folder instead of a scan of all its entries.
#pragma once
#include <string>

namespace plat::posix {

// The entry of folder ("" is the current folder) whose name equals name without regard to
// case; the smallest such name when several match, so the answer does not depend on
// directory order. False when none does or the folder cannot be listed.
bool findNameNoCase(const std::string& folder, const std::string& name, std::string& found);

// The backend's own changes to a folder's entries, reported after they succeeded, keep the
// index of that folder current instead of dropping it.
void noteNameAdded(const std::string& nativePath);
void noteNameRemoved(const std::string& nativePath);

}  // namespace plat::posix
