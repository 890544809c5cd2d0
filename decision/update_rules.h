// The rules that decide whether an update element applies to this machine: player version
// range, distribution channel, region lists and the versions of local files. Each is a
// function of the records and the host and returns its verdict; the walk logs it.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "decision/rule_host.h"
#include "decision/rule_verdict.h"
#include "decision/update_records.h"

namespace decision {

using NamedPaths = std::map<std::u16string, std::u16string>;  // flag -> folder

// This user's region codes from the registry, in a fixed order; a value that cannot be
// read stays as the registry string itself.
std::vector<std::u16string> gatherRegionValues(RuleHost& host);

// Adds the folders of a Path element: registry values (reg="true") or "%VARIABLE%rest".
// A folder that cannot be found is left out.
void addNamedPaths(const std::vector<NamedPath>& paths, RuleHost& host, NamedPaths& folders);

// Enabled, a plain package file name, the player's version inside the element's range and
// the player's channel not excluded.
RuleVerdict validity(const UpdateRecord& update, const std::u16string& clientPath, RuleHost& host);
// What a signed deployment asks of an element beyond validity: a sha256 of 64 hex digits,
// and a ver of four numbers no older than the installed player's unless allowdowngrade = 1.
RuleVerdict signedValidity(const UpdateRecord& update, const std::u16string& clientPath, RuleHost& host);
// A black list, when present, decides alone; otherwise a white list must name a region.
RuleVerdict regionVerdict(const UpdateRecord& update, const std::vector<std::u16string>& regions);
// A local file the update depends on: absent, or present with a version the file child
// allows and older than its ver.
FileVerdict fileVerdict(const FileRecord& file, const NamedPaths& folders, RuleHost& host);

// What an update element is tested against.
struct RuleContext {
    NamedPaths folders;
    std::u16string clientPath;  // the player executable, from Clientpath
    std::vector<std::u16string> regions;
    // The deployment signs its documents: each element must name its package's SHA-256,
    // and none may offer an older version than the installed player unless it says so.
    bool signedDocuments = false;
};

// The whole test of one element: valid, in region, and some file child passes.
ElementVerdict elementVerdict(const DocumentItem& item, const RuleContext& context, RuleHost& host);

}  // namespace decision
