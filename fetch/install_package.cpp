// A package on disk is installed only when its digest matches the document's md5: then it
// is started at once or recorded for the player, and the running player is told.
#include "fetch/install_package.h"

#include "app/log.h"
#include "app/digest_check.h"
#include "app/settings.h"
#include "fetch/notify_player.h"
#include "platform/system.h"
#include "text/text.h"

namespace fetch {
namespace {

constexpr size_t kSavePathChars = 1023;

}  // namespace

// A path too long for the path buffer fails: cut short, it would name some other file
// than the one that is then installed.
bool packageDigestMatches(const std::u16string& path, const std::u16string& md5, const std::u16string& sha256) {
    if (path.size() > kSavePathChars) return false;
    return app::checkDigests(path, app::DigestCheck{md5, sha256}).matches();
}

std::unique_ptr<plat::File> openVerifiedPackage(const std::u16string& path, const std::u16string& md5,
                                                const std::u16string& sha256) {
    if (path.size() > kSavePathChars) return nullptr;
    std::unique_ptr<plat::File> file = plat::openFile(path, plat::OpenMode::ReadDenyWrite);
    if (!file) return nullptr;
    // From the bytes on the held handle, never a digest remembered by the file's identity:
    // whoever can write the file can also put its identity back.
    app::DigestCheck check{md5, sha256, plat::OpenMode::ReadDenyWrite, app::Md5Case::Ignored, app::DigestSource::Bytes};
    return app::checkDigests(*file, check).matches() ? std::move(file) : nullptr;
}

void installVerifiedPackage(const Package& package, const std::u16string& savePath) {
    LOG(u"check md5 success");
    if (package.runnow != 0) {
        LOG(u"run setup.exe now");
        plat::shellExecute(savePath);  // not waited for; its outcome is the installer's
    } else {
        LOG(u"write update info in OvUpdate.ini");
        app::settings::writeString(app::settings::kSectionUpdateInfo, app::settings::kKeyUpdateFile, package.name,
                              app::settings::kOvUpdateIni);
    }
    if (package.showtip != 0 && !package.verlogBytes.empty()) {
        LOG(u"notify Orvix.exe");
        notifyPlayerWindows(package);
    }
}

}  // namespace fetch
