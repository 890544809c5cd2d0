// The installer package a run has chosen, and how the installer part of the run ends.
#pragma once
#include <string>
#include <vector>

namespace fetch {

// What the download, the digest check, the installation and the player message need of
// an update element. The byte copies keep the document's own bytes for the player
// message, which passes them on unchanged.
struct Package {
    std::u16string name;  // installer file name in the save folder
    std::string nameBytes;
    int runnow = 0;
    std::u16string prismlink;
    std::u16string filesize;
    std::u16string crc32;
    std::u16string httplink;      // relative to a package domain
    std::u16string httplinkfull;  // complete URL
    std::u16string md5;
    std::string md5Bytes;
    // Checked beside md5 only when the deployment signs its documents; empty otherwise.
    std::u16string sha256;
    int usehttp = 0;
    int showtip = 0;
    // A background run downloads it on a metered or roaming link as well.
    bool critical = false;
    std::string verlogBytes;
    std::string verBytes;
};

// A package together with where it is saved and where else it may be fetched from.
struct PackageJob {
    Package package;
    std::vector<std::u16string> domains;  // package domains of the document, in order
    std::u16string saveDirectory;
    std::u16string clientId;

    std::u16string savePath() const { return saveDirectory + u"\\" + package.name; }
};

// How the installer part of a run ends; the numbers are the ones the log shows.
enum class RunStatus {
    NothingToDo = 0,
    NoDocument = 1,
    NoUpdate = 2,
    PackagePresent = 3,
    Downloaded = 5,
    DownloadFailed = 6,
};

// What the decision hands to the package stage: an end without a package, a verified
// package already on disk, or a package to download.
enum class Verdict { NothingToDo, NoDocument, NoUpdate, PackagePresent, Download };

}  // namespace fetch
