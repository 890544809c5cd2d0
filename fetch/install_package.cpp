// A package on disk is installed only when its digest matches the document's md5: then it
// is started at once or recorded for the player, and the running player is told.
#include "app/log.h"
#include "app/md5.h"
#include "app/settings.h"
#include "decision/update_driver.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

constexpr size_t kSavePathChars = 1023;

}  // namespace

// Letter case is ignored; an md5 attribute of any other length than 32 never matches, and
// an empty or unreadable file never passes. A path too long for the path buffer fails too:
// cut short, it would name some other file than the one that is then installed.
bool UpdateDriver::packageDigestCheck() {
    std::u16string path = packageSavePath();
    if (path.size() > kSavePathChars) return false;
    StreamedMd5 md5 = md5OfFileStreamed(path);
    if (md5.bytesRead == 0) return false;
    return text::toUpper(text::fromUtf8(md5Hex(md5.digest))) == text::toUpper(m_update.md5);
}

void UpdateDriver::installVerifiedPackage() {
    LOG(u"check md5 success");
    if (m_update.runnow != 0) {
        LOG(u"run setup.exe now");
        plat::shellExecute(packageSavePath());  // not waited for; its outcome is the installer's
    } else {
        LOG(u"write update info in OvUpdate.ini");
        settings::writeString(settings::kSectionUpdateInfo, settings::kKeyUpdateFile, m_update.name,
                              settings::kOvUpdateIni);
    }
    if (m_update.showtip != 0 && !m_update.verlogBytes.empty()) {
        LOG(u"notify Orvix.exe");
        notifyPlayerWindows();
    }
}
