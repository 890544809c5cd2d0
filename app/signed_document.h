// Signed documents. With a release key in the deployment file, every document the agent
// reads (the update-information document, the offer document, the update configuration,
// each module list, a local debug document) must come with a minisign signature at its own
// location with ".minisig" appended. It is checked over the exact bytes received, before
// anything else reads them.
//
// A document is known by its path below the domain root ("product/OvUpdate/upcfg.xml",
// "modules/3.2/update.xml"): the signature's trusted comment must name that path, so that
// one source's module list cannot stand in for another's, and the newest timestamp
// accepted is remembered per path (OvUpdate.ini, section "signatures"). The documents of
// "product/OvUpdate/" have names unique there and may also be signed under their bare
// name, as a plain "minisign -Sm" writes it.
//
// A signature is accepted only when it is minisign's prehashed kind, no older than the
// newest accepted for the path (replay and rollback), no older than maxagedays (so that a
// machine with nothing remembered takes no release replaced long ago), and not dated more
// than a day ahead of this machine's clock (such a timestamp would refuse every later
// release). A refused document counts as not retrieved. Without a key nothing is checked
// and nothing is written.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/minisign.h"

namespace app::signing {

inline constexpr char16_t kSignatureSuffix[] = u".minisig";
inline constexpr char16_t kSectionSignatures[] = u"signatures";
// The folder whose documents may be signed under their bare name.
inline constexpr char16_t kProductFolder[] = u"product/OvUpdate/";
inline constexpr uint64_t kSecondsPerDay = 86400;
// How far ahead of the local clock a timestamp may be (clocks disagree a little).
inline constexpr uint64_t kFutureAllowance = kSecondsPerDay;

// True when the deployment file names a release key (a key that cannot be read still
// counts: then every document is refused).
bool required();

// The path of a URL below its domain root, percent escapes decoded and "." and ".." steps
// resolved, without query or fragment: "http://h:80/modules/3.2/update.xml?x" ->
// "modules/3.2/update.xml". Empty when the URL has no path or climbs above the root.
std::u16string documentPath(const std::u16string& url);
// True when a trusted comment's "file:" names the document at path: its path, or for a
// document of the product folder its bare name.
bool namesDocument(const std::u16string& file, const std::u16string& path);
// Where the signature of the document at location lies.
inline std::u16string signatureLocation(const std::u16string& location) { return location + kSignatureSuffix; }

// The judgement on given inputs; it remembers nothing.
struct Policy {
    std::vector<app::minisign::PublicKey> keys;
    uint64_t newestAccepted = 0;  // for this path; 0: none yet
    uint64_t now = 0;             // seconds since 1970
    int maxAgeDays = 30;          // 0: no age limit (the publishing tool's own checks only)
};
struct Judgement {
    bool accepted = false;
    std::u16string reason;  // why not, when refused
    uint64_t timestamp = 0;
};
Judgement judge(const std::string& document, const std::string& signatureText, const std::u16string& path,
                const Policy& policy);

// The whole check of the document fetched from url (its path is its identity) under the
// deployment's keys and age limit and the remembered timestamps. Accepted: the timestamp
// is remembered for the path and the answer is empty. Refused: the reason, for the log.
std::u16string refusal(const std::string& document, const std::string& signatureText, const std::u16string& url);
// The same for a document known by its path (a local copy of a served document).
std::u16string refusalOfPath(const std::string& document, const std::string& signatureText,
                             const std::u16string& path);

// The one log line of a refused document.
std::u16string refusalLine(const std::u16string& location, const std::u16string& reason);

// Reason of a document whose signature could not be fetched or read.
inline constexpr char16_t kNoSignature[] = u"no signature";

}  // namespace app::signing
