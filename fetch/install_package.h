// Verification and installation of a package on disk, and the message to the player.
#pragma once
#include <string>

#include "fetch/package.h"

namespace fetch {

// Letter case is ignored; an md5 of any other length than 32 never matches, and an empty
// or unreadable file never passes. A non-empty sha256 must match too, from the same read.
bool packageDigestMatches(const std::u16string& path, const std::u16string& md5,
                          const std::u16string& sha256 = {});

// Starts the verified package at once or records it for the player, then tells the
// running player when the document asks for it.
void installVerifiedPackage(const Package& package, const std::u16string& savePath);

}  // namespace fetch
