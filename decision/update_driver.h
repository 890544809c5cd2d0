// The update driver: the one object that carries a background installer run, from the
// crash-report delivery through the document, its rules and the package decision to the
// end of the run. Every operation runs on the normal update thread.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "decision/update_records.h"
#include "fetch/engine_interface.h"

namespace rapidxml {
template <class Ch> class xml_node;
}

// How the installer part of a run ends (the status of finishUpdateRun).
constexpr int kRunNothingToDo = 0;
constexpr int kRunNoDocument = 1;
constexpr int kRunNoUpdate = 2;
constexpr int kRunPackagePresent = 3;
constexpr int kRunDownloaded = 5;
constexpr int kRunDownloadFailed = 6;

// One pending crash file and what is sent with it.
struct CrashDelivery {
    std::u16string fileName;       // relative to the data folder
    std::u16string dumpDirectory;  // sent as "addr" for dumps and logs
    bool dump = false;             // the zipped crash dump
    bool log = false;              // the zipped log
    std::u16string clientId;
};

class UpdateDriver {
public:
    // --- Run state. ---
    std::map<std::u16string, std::u16string> m_namedPaths;  // Path element: key -> folder
    std::vector<std::u16string> m_recentFiles;               // package files worth keeping
    std::u16string m_clientPath;                             // the player executable
    UpdateRecord m_update;                                   // element under test or taken
    FileRecord m_file;                                       // file child under test
    std::u16string m_saveDirectory;                          // where packages are stored
    std::vector<std::u16string> m_regionValues;              // this user's region codes
    std::vector<std::u16string> m_documentDomains;           // servers of the document
    std::vector<std::u16string> m_packageDomains;            // servers of the package
    bool m_debug = false;
    bool m_readLocal = false;
    std::u16string m_clientId;
    std::string m_documentBody;
    int m_runStatus = -1;  // status of the last finishUpdateRun, -1 before it

    // --- Start of the run and the document (decision/update_driver.cpp,
    //     decision/document_retrieval.cpp). ---
    void startUpdateRun();
    void obtainUpdateDocument();
    // Tries every document domain, then again after 60, 300 and 600 seconds.
    bool fetchUpdateDocument(const std::u16string& serverPath);
    void processDownloadedDocument();
    void processLocalDocument(const std::string& narrowPath);

    // --- Rules (decision/update_rules.cpp). ---
    void gatherRegionValues();
    void evaluateUpdateDocument(rapidxml::xml_node<char>& document);
    bool evaluateUpdateElement(rapidxml::xml_node<char>& element);  // true: accepted
    bool fileTest();

    // --- Package presence and rollout (decision/package_decision.cpp). ---
    std::u16string packageSavePath() const;
    bool decidePackage();  // true ends the walk
    void cleanPackageDirectory();

    // --- Crash reports (fetch/crash_report.cpp). ---
    bool deliverCrashReports();
    void deliverFile(const CrashDelivery& delivery);

    // --- Package download and the end of the run (fetch/). ---
    void downloadPackage();
    void fallBackToHttp();
    void downloadPackageOverHttp();
    bool packageDigestCheck();
    void finishUpdateRun(int status, bool fromEngine);
    void notifyPlayerWindows();

    // --- Peer-to-peer engine (fetch/engine_driver.cpp). Null until the first start; only
    //     releaseEngine brings them back to null. ---
    void* m_engineLibrary = nullptr;
    INimboDownloaderCreator* m_engineCreator = nullptr;
    INimboDownloaderTask* m_engineTask = nullptr;
    InitNimboDownloaderCreatorFunction m_engineInit = nullptr;
    DestroyNimboDownloaderCreatorFunction m_engineDestroy = nullptr;
    INimboDownloaderTaskCallBack* m_engineCallBack = nullptr;  // kept while the engine may call it
    bool startP2PDownload();  // true: the outcome arrives as a thread message
    void releaseEngine();     // safe in any state, also twice
    void logCallbackReady();
    // A message of the normal update thread's loop other than the end of the run.
    void handleRunMessage(uint32_t message);

private:
    bool locateAndLoadEngine(std::u16string& directory);
    void installVerifiedPackage();
    void runModuleUpdateStage();
    bool updateIsValid();
    bool tryDocumentDomains(const std::u16string& serverPath);
    void parseAndEvaluate(const std::string& text);
};

// The process-wide driver, created on first use and never destroyed.
UpdateDriver& updateDriver();

// The downloaded text as the parser gets it: without a UTF-8 byte-order mark and without
// anything after the last ">" (a text of 4 bytes or less is left as it is).
std::string cleanDocumentBody(const std::string& body);
