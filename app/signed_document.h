// Signed documents. With a release key in the deployment file, every document the agent
// reads (the update-information document, the offer document, the update configuration,
// each module list, a local debug document) must come with a minisign signature at its own
// location with ".minisig" appended. It is checked over the exact bytes received, before
// anything else reads them, and must name the document's own file name and a timestamp no
// older than the newest one accepted for that name (kept in OvUpdate.ini, section
// "signatures"), nor older than the deployment's maxagedays. A refused document counts as
// not retrieved. Without a key nothing is checked and nothing is written.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/minisign.h"

namespace signing {

inline constexpr char16_t kSignatureSuffix[] = u".minisig";
inline constexpr char16_t kSectionSignatures[] = u"signatures";

// True when the deployment file names a release key (a key that cannot be read still
// counts: then every document is refused).
bool required();

// The name a document is signed under: the last segment of its URL or path, without a
// query; both "/" and "\" separate.
std::u16string documentName(const std::u16string& location);
// Where the signature of the document at location lies.
inline std::u16string signatureLocation(const std::u16string& location) { return location + kSignatureSuffix; }

// The judgement on given inputs; it remembers nothing.
struct Policy {
    std::vector<minisign::PublicKey> keys;
    uint64_t newestAccepted = 0;  // for this name; 0: none yet
    uint64_t now = 0;             // seconds since 1970
    int maxAgeDays = 0;           // 0: no age limit
};
struct Judgement {
    bool accepted = false;
    std::u16string reason;  // why not, when refused
    uint64_t timestamp = 0;
};
Judgement judge(const std::string& document, const std::string& signatureText, const std::u16string& name,
                const Policy& policy);

// The whole check under the deployment's keys and age limit and the remembered timestamps.
// Accepted: the timestamp is remembered for the name and the answer is empty. Refused: the
// reason, for the log.
std::u16string refusal(const std::string& document, const std::string& signatureText, const std::u16string& name);

// The one log line of a refused document.
std::u16string refusalLine(const std::u16string& location, const std::u16string& reason);

// Reason of a document whose signature could not be fetched or read.
inline constexpr char16_t kNoSignature[] = u"no signature";

}  // namespace signing
