// The records the update rules fill from an update element and its file children.
#pragma once
#include <string>

// Attributes of an update element. The four byte copies keep the document's own bytes
// for the player message, which passes them on unchanged.
struct UpdateRecord {
    std::u16string name;  // installer package file name
    std::string nameBytes;
    bool enable = true;
    int runnow = 0;
    std::u16string prismlink;
    std::u16string filesize;
    std::u16string crc32;
    std::u16string httplink;      // relative to a package domain
    std::u16string httplinkfull;  // complete URL
    std::u16string md5;
    std::string md5Bytes;
    int probability = 100;  // rollout percentage
    int seed = 1000;        // rollout hash seed
    int usehttp = 0;
    std::u16string whitelist;  // region codes separated by "|"
    std::u16string blacklist;
    int showtip = 0;
    std::string verlogBytes;
    std::string verBytes;
    std::u16string clientminver;
    std::u16string clientmaxver;
    std::u16string partnerid;  // channel identifiers separated by ";" that must not update
    int basenumber = 100;      // accepted, unused
};

// Attributes of a file child of an update element: a local file of the player whose
// version the update depends on.
struct FileRecord {
    std::u16string name;
    std::u16string ver;
    std::u16string minver;
    std::u16string maxver;
    std::u16string path;     // key into the named paths
    std::u16string subpath;  // below that folder, without leading or trailing "\"
};
