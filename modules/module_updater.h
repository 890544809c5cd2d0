// The module update: replaces single program files of the installed player in place.
// It reads upcfg.xml to choose a module source, downloads the module list update.xml,
// fetches each changed file as a one-file zip archive into the working folder "OvUpdate"
// under the player folder, stages it there and lists it in update.pre.xml, then swaps the
// staged files in. Every replaced file is backed up first and restored when the swap fails.
//
// One object carries one run on the calling thread and keeps nothing between runs: what
// persists (archives and staged files of an interrupted run, update.pre.xml, backups) is on
// disk and picked up by the next run.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include "app/digest_check.h"
#include "app/log.h"
#include "fetch/transfer.h"

namespace modules {

// One "up" element of upcfg.xml.
struct UpdateNode {
    std::u16string minVersion;  // "miniver"; empty leaves the window open below
    std::u16string maxVersion;  // "maxver"; empty leaves it open above
    std::u16string sourceDir;   // "sdir": base URL of the module source, no trailing "/"
    int32_t percent = 0;        // "percent", clamped: 99 and above or negative become 100
    int32_t seed = 1000;        // "seed"
};

// upcfg.xml's text (UTF-8) read into its nodes, in document order; false when root or
// root/updates is missing or the text is not well formed.
bool readUpdateConfig(const std::string& body, std::vector<UpdateNode>& nodes);

// A patch a module list offers for one module: it turns the file whose digests are
// fromMd5 and fromSha256 into the module's new file.
struct ModulePatch {
    std::u16string fromMd5;
    std::u16string fromSha256;  // required, like sha256, in a deployment that signs its documents
    uint64_t size = 0;          // of the patch; a download is never allowed to grow beyond it
    std::u16string md5;
    std::u16string sha256;
    std::u16string url;
};

// One "File" of update.xml, or of update.pre.xml (then only md5, sha256, installedPath,
// installedDir and stagedPath are filled).
struct ModuleEntry {
    std::u16string name;
    std::u16string md5;
    std::u16string zipMd5;
    // Of the file and of its archive; read, and checked beside md5 and zipMd5, only in a
    // deployment that signs its documents.
    std::u16string sha256;
    std::u16string zipSha256;
    std::u16string installedPath;
    std::u16string installedDir;
    std::u16string archivePath;
    std::u16string stagedPath;
    std::u16string stagedDir;
    std::u16string archiveUrl;
    std::vector<ModulePatch> patches;
    bool needsUpdate = false;
};

// A module file's digests as the module update checks them: read without sharing (a file
// the player holds open gives none), the MD5 compared as the list writes it, the SHA-256
// when one is given.
app::DigestFinding moduleDigests(const std::u16string& path, const std::u16string& md5,
                                 const std::u16string& sha256 = {});

class ModuleUpdater {
public:
    void setLogging(bool on) { m_logging = on; }
    // Where log lines go instead of the diagnostic log (tests watch the lines here).
    using LogSink = std::function<void(const std::u16string&)>;
    void setLogSink(LogSink sink) { m_sink = std::move(sink); }

    // The entry of a run: true when a node of upcfg.xml applied, its modules were staged
    // and the swap did not have to be rolled back.
    bool RunModuleUpdate(std::u16string clientId);
    // Puts the registered player's installation back together when a swap was cut short
    // (the process killed, the machine off): every background run does this first, before
    // anything else touches the player folder, whatever it goes on to do.
    void RestoreInterruptedSwap();
    bool DoFullUpdate(const std::u16string& cfgOverride, const std::u16string& clientId,
                      std::u16string currentVersion);
    bool DownloadUpdateCfgFile(const std::u16string& cfgOverride, std::vector<UpdateNode>& nodes);

    // Download and staging.
    bool DoUpdateNow(const std::u16string& sourceDir, const std::u16string& root);
    // list: the bytes of update.xml, as read (and, in a signed deployment, checked).
    bool ParseUpdateModuleList(const std::u16string& sourceDir, const std::u16string& base,
                               const std::string& list, const std::u16string& stagingDir,
                               std::vector<ModuleEntry>& entries);
    // The patches the list offers ("Patch" elements beside the "File" elements, which a
    // reader that knows nothing of them passes over), added to the entries read from the
    // same list. A patch that is incomplete or names its place wrongly is left out.
    static void readModulePatches(const std::string& list, const std::u16string& sourceDir,
                                  std::vector<ModuleEntry>& entries);
    bool UnZipOneFile(const std::u16string& targetDir, const std::u16string& archivePath);
    bool CreateMultiDirectory(const std::u16string& path);

    // Replacement and rollback. ReplaceFiles answers the number of files swapped, -1 when
    // the swap failed and was rolled back, 0 when there was nothing to swap.
    int ReplaceFiles(const std::u16string& root);

    // The player folder: where modules are staged and swapped in, and what the staging
    // list's "OldFile" paths are built on. RunModuleUpdate sets it from the registration.
    void setPlayerFolder(const std::u16string& folder) { m_playerPath = m_workingRoot = folder; }

private:
    bool CheckAndDownloadModulesByList(std::vector<ModuleEntry>& entries, int& count);
    // Stages a changed module from a patch against its installed file (whose MD5 is
    // installedMd5) when the list offers one. False, with one line logged when a patch was
    // there, sends the caller to the full archive.
    bool StageFromPatch(const ModuleEntry& e, const std::u16string& installedMd5);
    bool SaveUpdateFilesToUpdatePrepareXml(const std::vector<ModuleEntry>& entries, const std::u16string& path);
    // A staging list an earlier run left (its swap failed and was rolled back) is kept only
    // when entries, just checked against the accepted module list, ask for exactly the files
    // it names with the same digests; otherwise it goes with the staged files it names.
    // False when it cannot go because backups or marks of its swap are still in place.
    bool DropStaleStagingList(const std::vector<ModuleEntry>& entries, const std::u16string& base,
                              const std::u16string& listPath);
    // maxBytes, when not 0, bounds the body below the policy's own limit.
    bool DownloadFile(const std::u16string& url, const std::u16string& path,
                      fetch::ModuleBody kind = fetch::ModuleBody::Archive, uint64_t maxBytes = 0);
    // The file's MD5 (and SHA-256 when given) against the list's, each comparison logged.
    bool CompareFileDigests(const std::u16string& path, const std::u16string& md5, const std::u16string& sha256);
    // In a deployment that signs its documents: the signature at url + ".minisig", fetched
    // as the document was, accepts the document's bytes. A refusal is logged with the URL.
    bool DocumentAccepted(const std::u16string& url, const std::string& body);
    // Removes what is at path (a folder with its contents too, when folderToo) and checks
    // that nothing is left there.
    bool DeleteAndCheck(const std::u16string& path, bool folderToo = false);
    bool ParsePrepareList(const std::u16string& path, const std::u16string& base,
                          std::vector<ModuleEntry>& entries);
    bool ReplaceNewFiles(const std::vector<ModuleEntry>& entries);
    void RollbackFiles(const std::vector<ModuleEntry>& entries);
    void RetireBackups(const std::vector<ModuleEntry>& entries);
    bool DeleteOldFiles(const std::u16string& dir);
    void DeleteDirectoryTree(const std::u16string& dir);
    bool ShellDeleteDirectory(const std::u16string& dir);

    template <typename... Args>
    void log(std::u16string_view fmt, const Args&... args) const {
        if (!m_logging) return;
        std::u16string line = text::format(fmt, args...);
        if (m_sink) m_sink(line);
        else app::diag::logLine(line);
    }
    // Puts the installation together after a swap that was cut short: finishes it when
    // every new file went in, else rolls it back.
    void restoreInterruptedSwap(const std::u16string& base);
    // Ends a swap whose new files are all in place: backups retired, marks and list gone.
    void finishSwap(const std::vector<ModuleEntry>& entries, const std::u16string& listPath);
    // True when a swap of entries has begun: a backup or an "added" mark is in place.
    static bool swapBegun(const std::vector<ModuleEntry>& entries);
    // The staged file at path (staged, or just moved in) against the digests the staging
    // list recorded; a signed deployment's list must have recorded the SHA-256.
    bool matchesStagingList(const std::u16string& path, const ModuleEntry& e);

    bool m_logging = false;
    LogSink m_sink;
    std::u16string m_playerPath;
    std::u16string m_workingRoot;
};

}  // namespace modules
