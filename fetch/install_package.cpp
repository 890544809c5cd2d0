// A package on disk is installed only when its digest matches the document's md5: then it
// is started at once or recorded for the player, and the running player is told.
#include "fetch/install_package.h"

#include "app/file_digests.h"
#include "app/log.h"
#include "app/md5.h"
#include "app/settings.h"
#include "fetch/notify_player.h"
#include "platform/system.h"
#include "platform/text.h"

namespace fetch {
namespace {

constexpr size_t kSavePathChars = 1023;

}  // namespace

// A path too long for the path buffer fails: cut short, it would name some other file
// than the one that is then installed.
bool packageDigestMatches(const std::u16string& path, const std::u16string& md5, const std::u16string& sha256) {
    if (path.size() > kSavePathChars) return false;
    if (!sha256.empty()) {
        FileDigests both = fileDigests(path, plat::OpenMode::ReadShared);
        return both.bytesRead > 0 && text::toUpper(text::fromUtf8(both.md5)) == text::toUpper(md5) &&
               sha256Matches(both.sha256, sha256);
    }
    StreamedMd5 digest = md5OfFileStreamed(path);
    if (digest.bytesRead == 0) return false;
    return text::toUpper(text::fromUtf8(md5Hex(digest.digest))) == text::toUpper(md5);
}

void installVerifiedPackage(const Package& package, const std::u16string& savePath) {
    LOG(u"check md5 success");
    if (package.runnow != 0) {
        LOG(u"run setup.exe now");
        plat::shellExecute(savePath);  // not waited for; its outcome is the installer's
    } else {
        LOG(u"write update info in OvUpdate.ini");
        settings::writeString(settings::kSectionUpdateInfo, settings::kKeyUpdateFile, package.name,
                              settings::kOvUpdateIni);
    }
    if (package.showtip != 0 && !package.verlogBytes.empty()) {
        LOG(u"notify Orvix.exe");
        notifyPlayerWindows(package);
    }
}

}  // namespace fetch
