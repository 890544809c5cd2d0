// The names in folders, each folder listed once when first asked about, letter case
// ignored. A name that is not there is the slow kind to look up where the file system
// ignores case only by searching the folder (Wine on a Linux file system reads the whole
// folder for it); one listing answers that for every module in the folder.
#pragma once
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace modules {

class FolderNames {
public:
    // False only when the folder's listing shows no such name.
    bool mayHold(const std::u16string& path);

private:
    struct Listing {
        bool listed = false;
        std::unordered_set<std::u16string> names;  // lower case
    };
    const Listing& listingOf(const std::u16string& folder);

    std::unordered_map<std::u16string, Listing> m_folders;  // by lower-case folder
};

}  // namespace modules
