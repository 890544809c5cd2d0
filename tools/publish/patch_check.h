// The check of a module list's patches for ovpublish verify.
#pragma once
#include <string>
#include <vector>

#include "modules/module_updater.h"
#include "tools/publish/files.h"

namespace publish {

struct PatchCheck {
    fs::path root;                // the served tree
    std::vector<fs::path> earlier;  // folders of earlier releases, laid out as the player folder
    bool needSha256 = false;      // a signed deployment takes a patch only with them
};

// Every patch of the list: well formed, present with its size and digests, and, where an
// earlier folder holds the file it applies to, giving exactly the listed file. Problems
// are appended as "path: what"; files counts the patch files read.
void checkPatches(const PatchCheck& check, const fs::path& list, const std::string& bytes,
                  std::vector<modules::ModuleEntry> entries, const std::u16string& source,
                  std::vector<std::string>& problems, int& files);

}  // namespace publish
