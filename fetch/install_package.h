// Verification and installation of a package on disk, and the message to the player.
#pragma once
#include <memory>
#include <string>

#include "fetch/package.h"
#include "platform/files.h"

namespace fetch {

// Letter case is ignored; an md5 of any other length than 32 never matches, and an empty
// or unreadable file never passes. A non-empty sha256 must match too, from the same read.
bool packageDigestMatches(const std::u16string& path, const std::u16string& md5,
                          const std::u16string& sha256 = {});

// The package opened so that others may read it (starting it does) but nobody may write,
// rename or delete it, and checked on that handle as packageDigestMatches checks; null
// unless it matches. With a sha256 (a signed deployment) the check reads the bytes and
// takes no digest remembered for the file's identity. Kept open until the package has been
// started, it is the package that was checked that starts.
std::unique_ptr<plat::File> openVerifiedPackage(const std::u16string& path, const std::u16string& md5,
                                                const std::u16string& sha256 = {});

// Starts the verified package at once or records it for the player, then tells the
// running player when the document asks for it. The caller holds the package open by
// openVerifiedPackage until this returns.
void installVerifiedPackage(const Package& package, const std::u16string& savePath);

}  // namespace fetch
