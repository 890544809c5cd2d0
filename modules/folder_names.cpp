#include "modules/folder_names.h"

#include <vector>

#include "platform/files.h"
#include "text/text.h"

namespace modules {

const FolderNames::Listing& FolderNames::listingOf(const std::u16string& folder) {
    auto [it, fresh] = m_folders.try_emplace(text::toLower(folder));
    Listing& listing = it->second;
    if (!fresh) return listing;
    std::vector<plat::DirEntry> entries;
    if (plat::listDirectory(folder, entries)) {
        for (const plat::DirEntry& entry : entries) listing.names.insert(text::toLower(entry.name));
        listing.listed = true;
    }
    return listing;
}

bool FolderNames::mayHold(const std::u16string& path) {
    const Listing& listing = listingOf(plat::parentFolder(path));
    return !listing.listed || listing.names.count(text::toLower(plat::fileNameOf(path))) != 0;
}

}  // namespace modules
