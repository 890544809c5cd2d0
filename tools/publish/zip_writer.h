// The one-file archives of a module source: the file under its bare name, deflated, with
// its modification time (DOS time and the exact "UT" time the agent sets on unpacking).
#pragma once
#include <cstdint>
#include <string>

#include "tools/publish/files.h"

namespace publish {

bool writeOneFileZip(const fs::path& archive, const std::string& entryName, const std::string& data,
                     int64_t modified);

}  // namespace publish
