// Where a URL of a served tree lies on disk: the tree is served at the root of every
// domain, so only the URL's path counts.
#pragma once
#include <string>
#include <vector>

#include "tools/publish/files.h"

namespace publish {

// "http://host:port/a/b%20c.zip" under root -> root/a/b c.zip; empty for a URL without a
// path or with a path that climbs out of root.
fs::path servedFile(const fs::path& root, const std::u16string& url);

// The relative path with "/" separators, as problems are reported.
std::string shown(const fs::path& root, const fs::path& path);
// The same for a file that must lie inside root, as the agent knows a document by it
// and its signature names it; empty when it lies outside.
std::string pathInTree(const fs::path& root, const fs::path& file);

// The documents of the tree the agent reads: those of product/OvUpdate/ that are present
// and every module list (update.xml) below root.
std::vector<fs::path> treeDocuments(const fs::path& root);

}  // namespace publish
