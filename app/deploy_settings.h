// Where the maker's servers are: three download domains and the crash-collection host.
// Compiled-in defaults, overridden by OvUpdate.deploy.ini beside the executable (or, in a
// build with test hooks, the file named by OVUPDATE_DEPLOY), section "servers", keys domain1, domain2, domain3 and report.
// Each value is a scheme and host with an optional port, without a trailing slash.
// The same section may name the release keys (publickey, publickey2: the base64 line of a
// minisign.pub file) and maxagedays; without a key, nothing is signed or checked.
#pragma once
#include <cstdint>
#include <string>

namespace app::deploy {

inline constexpr int kDefaultMaxAgeDays = 30;

struct Servers {
    std::u16string domains[3];
    std::u16string report;
    // Only ever from the deployment file, which the installer writes: keys are never
    // fetched. Checked where documents are, never here.
    std::u16string publicKeys[2];
    // A signed document older than this many days is refused. Without a value (or with one
    // that is not a positive number) the default holds: a machine with no remembered
    // signatures must not take a release that was replaced long ago.
    int maxAgeDays = kDefaultMaxAgeDays;
    // Key maxbytespersecond: caps the background downloads' receiving rate; 0 (the
    // default, also for a value that is not a positive number): no cap.
    int64_t maxReceiveBytesPerSecond = 0;
};

// Read once, on first use.
const Servers& servers();

// Defaults overlaid with the keys present in file (a missing file changes nothing).
Servers loadServers(const std::u16string& file);
// The override file: OVUPDATE_DEPLOY when set in a build with test hooks, else
// OvUpdate.deploy.ini beside the executable.
std::u16string deployFile();

}  // namespace app::deploy
