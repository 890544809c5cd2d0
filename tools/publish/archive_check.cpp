#include "tools/publish/archive_check.h"

#include <sodium.h>

#include "modules/module_updater.h"

using modules::ModuleUpdater;

namespace publish {

bool unpackOne(const fs::path& archive, std::string& name, std::string& bytes) {
    std::error_code ec;
    fs::path scratch = fs::temp_directory_path(ec) / ("ovpublish-" + std::to_string(randombytes_random()));
    fs::create_directories(scratch, ec);
    fs::path here = fs::current_path(ec);
    ModuleUpdater unpacker;  // unpacking makes the target the current folder
    bool ok = unpacker.UnZipOneFile(agentPath(scratch), agentPath(archive));
    fs::current_path(here, ec);
    name.clear();
    for (const auto& entry : fs::recursive_directory_iterator(scratch, ec)) {
        if (!entry.is_regular_file()) continue;
        name = entry.path().lexically_relative(scratch).generic_u8string();
        ok = ok && readBytes(entry.path(), bytes);
    }
    fs::remove_all(scratch, ec);
    return ok;
}

}  // namespace publish
