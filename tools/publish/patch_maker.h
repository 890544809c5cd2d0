// Making a module patch (modules/patch_format.h): the new file described against the old.
#pragma once
#include <string>

namespace publish {

// The patch that turns old into updated; false when it cannot be made here (a build
// without the suffix sorter, no memory, a compressor error) or old is empty.
// False in a build without them (the Windows one), where --delta-from is refused.
bool canMakePatches();
bool makePatch(const std::string& old, const std::string& updated, std::string& patch);

}  // namespace publish
