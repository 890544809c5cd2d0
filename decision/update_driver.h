// The update driver: the installer decision of one background run. It reads the debug
// switches, creates the save folder, gathers the region values and the client identifier,
// obtains the update-information document (servers with a retry schedule, or a local file
// in debug mode), reads it into records and walks them in document order. It returns what
// it decided; the download, installation and module update run after it, elsewhere. The
// walk itself is a function of the records, the host and the machine, for the release
// tool's explanation of a decision as much as for the run.
#pragma once
#include <string>
#include <vector>

#include "decision/rule_host.h"
#include "decision/rule_verdict.h"
#include "decision/update_records.h"
#include "fetch/package.h"

namespace decision {

struct RunDecision {
    fetch::Verdict verdict = fetch::Verdict::NoUpdate;
    // For PackagePresent and Download: the package, its domains and save folder.
    fetch::PackageJob job;
};

// The machine a document is walked for, beyond what its host answers.
struct WalkMachine {
    std::u16string saveDirectory;  // where its packages are saved
    std::u16string clientId;       // places it in a rollout
    std::vector<std::u16string> regions;
    // The deployment signs its documents: each element must name its package's SHA-256,
    // and none may offer an older version than the installed player unless it says so.
    bool signedDocuments = false;
};

struct WalkResult {
    std::vector<ElementVerdict> elements;  // one per update element tested, in document order
    RunDecision decision;
};

// Walks the records in order until an update element applies and its package is present or
// to be downloaded, logging each element's verdict as it is reached.
WalkResult walkDocument(const std::vector<DocumentItem>& items, RuleHost& host, const WalkMachine& machine);

class UpdateDriver {
public:
    explicit UpdateDriver(RuleHost& host = systemRuleHost());

    // The whole decision. clientId is the run's cached identifier, looked up when empty.
    RunDecision decide(std::u16string& clientId);

    // Tries every document domain, then again after 60, 300 and 600 seconds.
    bool fetchUpdateDocument(const std::u16string& serverPath, std::string& body);

    // Servers of the document (the deployment's domains unless set before decide).
    std::vector<std::u16string> m_documentDomains;

private:
    RunDecision obtainAndWalk();
    RunDecision walkText(const std::string& text);
    bool localDocumentAccepted(const std::u16string& path, const std::string& content);
    bool tryDocumentDomains(const std::u16string& serverPath, std::string& body);

    RuleHost& m_host;
    WalkMachine m_machine;
    bool m_debug = false;
    bool m_readLocal = false;
};

}  // namespace decision
