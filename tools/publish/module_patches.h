// The patches of a module source: for each module, one patch from each differing earlier
// release of it (a folder laid out as the player folder was installed), served beside
// its archive and listed as "Patch" children of its "File" in update.xml.
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/publish/files.h"

class XmlDocument;

namespace publish {

struct ListedPatch {
    std::string fromMd5, fromSha256;  // of the earlier file
    std::string md5, sha256;          // of the patch
    uint64_t size = 0;
    std::string place;  // below OUT_DIR: "bin/<path>.<fromMd5>.patch"
};

// What the last run listed: by module name, the module's md5 then and its patches.
struct PreviousPatches {
    std::string md5;
    std::vector<ListedPatch> patches;
};
std::map<std::u16string, PreviousPatches> previousPatches(const fs::path& list);

struct PatchCounts {
    int written = 0, kept = 0;
};

// The patches of one module (its bytes data, digests file, archive size zipSize) from
// the earlier folders; only those smaller than half the archive. A patch listed before
// for the same two files and still intact is kept without being made again. False with
// error when a patch cannot be made or written.
bool patchesFor(const fs::path& out, const fs::path& relative, const std::string& data, const Digests& file,
                uint64_t zipSize, const std::vector<fs::path>& earlier, const PreviousPatches* before,
                std::vector<ListedPatch>& listed, PatchCounts& counts, std::string& error);

// The "Patch" elements of the module name, after the list's current element.
void addPatchElements(XmlDocument& list, const std::u16string& name, const std::vector<ListedPatch>& patches);

// Removes the patch files below OUT_DIR/bin that are not listed; answers how many went.
int removeUnlisted(const fs::path& out, const std::set<fs::path>& listed);

}  // namespace publish
