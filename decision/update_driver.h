// The update driver: the installer decision of one background run. It reads the debug
// switches, creates the save folder, gathers the region values and the client identifier,
// obtains the update-information document (servers with a retry schedule, or a local file
// in debug mode), reads it into records and walks them in document order. It returns what
// it decided; the download, installation and module update run after it, elsewhere.
#pragma once
#include <string>
#include <vector>

#include "decision/rule_host.h"
#include "decision/update_records.h"
#include "decision/update_rules.h"
#include "fetch/package.h"

namespace decision {

struct RunDecision {
    fetch::Verdict verdict = fetch::Verdict::NoUpdate;
    // For PackagePresent and Download: the package, its domains and save folder.
    fetch::PackageJob job;
};

class UpdateDriver {
public:
    explicit UpdateDriver(RuleHost& host = systemRuleHost());

    // The whole decision. clientId is the run's cached identifier, looked up when empty.
    RunDecision decide(std::u16string& clientId);

    // Tries every document domain, then again after 60, 300 and 600 seconds.
    bool fetchUpdateDocument(const std::u16string& serverPath, std::string& body);
    // Walks the records in order until an update element applies and its package is
    // present or to be downloaded.
    RunDecision walk(const std::vector<DocumentItem>& items);

    // Servers of the document (the deployment's domains unless set before decide).
    std::vector<std::u16string> m_documentDomains;
    std::u16string m_saveDirectory;  // set by decide; tests may set it for walk
    std::u16string m_clientId;
    // Set by decide (the regions) and by the walk; tests and the release tool's
    // explanation set the regions for walk.
    RuleContext m_context;

private:
    RunDecision obtainAndWalk();
    RunDecision walkText(const std::string& text);
    bool localDocumentAccepted(const std::u16string& path, const std::string& content);
    bool tryDocumentDomains(const std::u16string& serverPath, std::string& body);
    // True ends the walk with the verdict in decision.
    bool decidePackage(const UpdateRecord& update, RunDecision& decision);
    void cleanPackageDirectory();

    RuleHost& m_host;
    std::vector<std::u16string> m_packageDomains;
    std::vector<std::u16string> m_recentFiles;
    bool m_debug = false;
    bool m_readLocal = false;
};

}  // namespace decision
