// Delivery of the player's crash files to the collection endpoint, first thing in every
// background run.
#pragma once
#include <string>

namespace fetch {

// One pending crash file and what is sent with it.
struct CrashDelivery {
    std::u16string fileName;       // relative to the data folder
    std::u16string dumpDirectory;  // sent as "addr" for dumps and logs
    bool dump = false;             // the zipped crash dump
    bool log = false;              // the zipped log
    std::u16string clientId;
    std::u16string endpoint;  // the collection host's base address
};

// Sends qserr.dat, then the announced dump and log archives, to the collection host at
// `endpoint` (the deployment's report address).
void deliverCrashReports(const std::u16string& clientId, const std::u16string& endpoint);
// Sends one file; it is deleted, and its announcement cleared, only when the endpoint
// answers exactly "success".
void deliverFile(const CrashDelivery& delivery);

}  // namespace fetch
