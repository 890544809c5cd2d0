// Applying a module patch (patch_format.h) to the file it was made from.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace modules {

// Builds into out the file the patch describes from old. False with the reason in why
// (plain words for the log) when the patch is malformed, its frames do not decode, or the
// new file would be larger than maxBytes; out is then unusable.
bool applyPatch(std::string_view old, std::string_view patch, uint64_t maxBytes, std::string& out,
                std::u16string& why);

}  // namespace modules
