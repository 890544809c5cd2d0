// A package on disk is installed only when its digest matches the document's md5: then it
// is started at once or recorded for the player, and the running player is told.
#include "fetch/install_package.h"

#include "app/log.h"
#include "app/md5.h"
#include "app/md5_and_sha256.h"
#include "app/settings.h"
#include "fetch/notify_player.h"
#include "platform/system.h"
#include "platform/text.h"

namespace fetch {
namespace {

constexpr size_t kSavePathChars = 1023;

bool md5Equal(const std::string& digest, const std::u16string& md5) {
    return text::toUpper(text::fromUtf8(digest)) == text::toUpper(md5);
}

bool bothMatch(const FileDigests& both, const std::u16string& md5, const std::u16string& sha256) {
    return both.bytesRead > 0 && md5Equal(both.md5, md5) && sha256Matches(both.sha256, sha256);
}

bool md5Matches(plat::File& file, const std::u16string& md5) {
    StreamedMd5 digest = md5OfFileStreamed(file);
    return digest.bytesRead > 0 && md5Equal(md5Hex(digest.digest), md5);
}

}  // namespace

// A path too long for the path buffer fails: cut short, it would name some other file
// than the one that is then installed.
bool packageDigestMatches(const std::u16string& path, const std::u16string& md5, const std::u16string& sha256) {
    if (path.size() > kSavePathChars) return false;
    if (!sha256.empty()) return bothMatch(fileDigests(path, plat::OpenMode::ReadShared), md5, sha256);
    std::unique_ptr<plat::File> file = plat::openFile(path, plat::OpenMode::ReadShared);
    return file && md5Matches(*file, md5);
}

std::unique_ptr<plat::File> openVerifiedPackage(const std::u16string& path, const std::u16string& md5,
                                                const std::u16string& sha256) {
    if (path.size() > kSavePathChars) return nullptr;
    std::unique_ptr<plat::File> file = plat::openFile(path, plat::OpenMode::ReadDenyWrite);
    if (!file) return nullptr;
    bool matches = sha256.empty() ? md5Matches(*file, md5) : bothMatch(readFileDigests(*file), md5, sha256);
    return matches ? std::move(file) : nullptr;
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
