// An archive of a module source unpacked the way the agent unpacks it, into a scratch
// folder that is gone afterwards.
#pragma once
#include <string>

#include "tools/publish/files.h"

namespace publish {

// False when the agent would refuse it (not a zip, not exactly one entry, a name that
// climbs out). Otherwise name is what came out (relative, "/" separators; empty when it
// was a folder) and bytes its content.
bool unpackOne(const fs::path& archive, std::string& name, std::string& bytes);

}  // namespace publish
