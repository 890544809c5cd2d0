// Where a URL of a served tree lies on disk: the tree is served at the root of every
// domain, so only the URL's path counts.
#pragma once
#include <string>

#include "tools/publish/files.h"

namespace publish {

// "http://host:port/a/b%20c.zip" under root -> root/a/b c.zip; empty for a URL without a
// path or with a path that climbs out of root.
fs::path servedFile(const fs::path& root, const std::u16string& url);

// The relative path with "/" separators, as problems are reported.
std::string shown(const fs::path& root, const fs::path& path);

}  // namespace publish
