// The update-information document as plain records: its root's children in document
// order, each update element with its file children.
#pragma once
#include <string>
#include <vector>

#include "fetch/package.h"

namespace decision {

// Attributes of an update element: the package it offers and the rules it comes with.
struct UpdateRecord : fetch::Package {
    bool enable = true;
    int probability = 100;     // rollout percentage
    int seed = 1000;           // rollout hash seed
    std::u16string whitelist;  // region codes separated by "|"
    std::u16string blacklist;
    std::u16string clientminver;
    std::u16string clientmaxver;
    std::u16string partnerid;     // channel identifiers separated by ";" that must not update
    int basenumber = 100;         // accepted, unused
    bool allowdowngrade = false;  // an older package than the installed player may be offered
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

// A child of a Path element: a folder named by the registry or by an environment variable.
struct NamedPath {
    std::u16string name;  // registry path string, or "%VARIABLE%rest"
    std::u16string flag;  // the key file records refer to
    std::u16string reg = u"false";
};

// One child of the document's root that the walk looks at.
struct DocumentItem {
    enum class Kind { Domains, Paths, ClientPath, RecentFiles, Update };
    Kind kind = Kind::Update;
    std::vector<std::u16string> texts;  // Domain: the servers; recentfile: the names; Clientpath: its text
    std::vector<NamedPath> paths;       // Path
    UpdateRecord update;                // update
    std::vector<FileRecord> files;      // update: its children, in order
};

}  // namespace decision
