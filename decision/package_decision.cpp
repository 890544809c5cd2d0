#include "decision/package_decision.h"

#include <deque>

#include "app/host_probes.h"
#include "fetch/install_package.h"
#include "platform/files.h"
#include "text/text.h"

namespace decision {

PackageVerdict decidePackage(const UpdateRecord& update, const fetch::PackageJob& job) {
    PackageVerdict v;
    v.path = job.savePath();
    if (app::fileExists(v.path)) {
        if (fetch::packageDigestMatches(v.path, update.md5, job.package.sha256)) {
            v.state = PackageVerdict::State::Present;
            return v;
        }
        plat::deleteFile(v.path);
        v.state = PackageVerdict::State::Damaged;
        return v;
    }
    v.clientId = job.clientId;
    v.percent = update.probability;
    v.seed = update.seed;
    v.place = app::rolloutPlace(job.clientId, update.probability, update.seed);
    return v;
}

void cleanPackageDirectory(const std::u16string& saveDirectory, const std::vector<std::u16string>& recentFiles) {
    if (recentFiles.empty()) return;
    std::vector<std::u16string> names;
    std::deque<std::u16string> folders{saveDirectory};
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
        for (const std::u16string& entry : recentFiles) {
            if (upper.find(text::trim(text::toUpper(entry))) != std::u16string::npos) {
                keep = true;
                break;
            }
        }
        if (keep) continue;
        plat::deleteFile(saveDirectory + u"\\" + upper);
        plat::deleteFile(saveDirectory + u"\\temp\\" + upper);
    }
}

}  // namespace decision
