// What happens to an accepted update element's package: taken from disk when it is already
// there and whole, otherwise downloaded when this machine is inside the rollout share.
#include <deque>

#include "app/host_probes.h"
#include "app/log.h"
#include "app/rollout.h"
#include "decision/rule_texts.h"
#include "decision/update_driver.h"
#include "fetch/install_package.h"
#include "platform/files.h"
#include "platform/text.h"

namespace decision {

bool UpdateDriver::decidePackage(const UpdateRecord& update, RunDecision& decision) {
    decision.job.package = update;
    // Without signed documents the package is checked as it always was, by its md5 alone.
    if (!m_context.signedDocuments) decision.job.package.sha256.clear();
    decision.job.domains = m_packageDomains;
    decision.job.saveDirectory = m_saveDirectory;
    decision.job.clientId = m_clientId;
    std::u16string path = decision.job.savePath();
    if (fileExists(path)) {
        // A package on disk is taken without the rollout test.
        LOG(u"需要下载的包%s已存在，做md5：%s校验", path, update.md5);
        if (fetch::packageDigestMatches(path, update.md5, decision.job.package.sha256)) {
            LOG(u"校验成功");
            decision.verdict = fetch::Verdict::PackagePresent;
            return true;
        }
        LOG(u"校验失败，删除文件，下载安装包");
        plat::deleteFile(path);
        decision.verdict = fetch::Verdict::Download;
        return true;
    }
    LOG(u"需要下载的包%s不存在，下载前做灰度判断", path);
    LOG(texts::kRolloutTest, m_clientId, update.probability, update.seed);
    bool inside = inRollout(m_clientId, update.probability, update.seed);
    LOG(inside ? texts::kInsideRollout : texts::kOutsideRollout);
    if (!inside) return false;
    decision.verdict = fetch::Verdict::Download;
    return true;
}

// Deletes every package file whose name contains none of the recent-file entries (letter
// case and surrounding blanks ignored). Names are gathered from the whole folder tree, but
// the deletion aims at the save folder and its temp folder only.
void UpdateDriver::cleanPackageDirectory() {
    if (m_recentFiles.empty()) return;
    std::vector<std::u16string> names;
    std::deque<std::u16string> folders{m_saveDirectory};
    while (!folders.empty()) {
        std::u16string folder = folders.front();
        folders.pop_front();
        std::vector<plat::DirEntry> entries;
        if (!plat::listDirectory(folder, entries)) continue;
        for (const plat::DirEntry& e : entries) {
            if (!e.isDirectory) names.push_back(e.name);
            else if (e.name != u"." && e.name != u"..") folders.push_back(folder + u"\\" + e.name);
        }
    }
    for (const std::u16string& name : names) {
        std::u16string upper = text::trim(text::toUpper(name));
        bool keep = false;
        for (const std::u16string& entry : m_recentFiles) {
            if (upper.find(text::trim(text::toUpper(entry))) != std::u16string::npos) {
                keep = true;
                break;
            }
        }
        if (keep) continue;
        plat::deleteFile(m_saveDirectory + u"\\" + upper);
        plat::deleteFile(m_saveDirectory + u"\\temp\\" + upper);
    }
}

}  // namespace decision
