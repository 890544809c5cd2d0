// The update offered to the player, read from the version-information document on the
// first download domain. One record for the life of the process, so a player that comes
// back to a background agent finds the offer and the download it started.
#pragma once
#include <string>

namespace channel {

struct Offer {
    std::u16string version;
    std::u16string md5;
    std::u16string sha256;   // read, and checked beside md5, only in a signed deployment
    std::u16string verinfo;  // release notes, passed to the player unchanged
    std::u16string filename;
    std::u16string setupUrl;
    std::u16string savePath;  // data folder + "\OvUpdate\" + filename; empty without a name
};

Offer& offerRecord();

// Where the version-information document is: the debug variant when debug = 1.
std::u16string offerDocumentUrl();

// Reads update/exeupdate of the document into offer (a missing attribute reads as empty).
// False, offer unchanged, when either element is missing or the file name would lead
// outside the package folder, and, when signedDocument is set, when sha256 is not 64 hex
// digits or the version not four numbers.
bool readOffer(const std::u16string& document, Offer& offer, bool signedDocument = false);

}  // namespace channel
