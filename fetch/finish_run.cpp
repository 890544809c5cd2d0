// The end of the installer part of a run: one log line for the status, then the normal
// update thread is told that the run is over.
#include "app/log.h"
#include "app/md5.h"
#include "app/process_state.h"
#include "decision/update_driver.h"
#include "platform/text.h"
#include "platform/thread_messages.h"

namespace {

constexpr size_t kSavePathChars = 1023;

}  // namespace

void UpdateDriver::finishUpdateRun(int status, bool fromEngine) {
    m_runStatus = status;
    LOG(u"下载安装包完成 下载状态是：%d", status);
    switch (status) {
        case kRunNoDocument: LOG(u"xml下载失败，结束程序!"); break;
        case kRunNoUpdate: LOG(u"解析xml失败或者不满足升级条件"); break;
        case kRunDownloadFailed: LOG(u"升级包下载失败，结束程序!"); break;
        default: break;
    }
    plat::postThreadMessage(processState().normalThreadId, UM_UPDATE_RUN_DONE);
}

// The package on disk matches the document's md5 (letter case ignored); an empty or
// unreadable file never matches.
bool UpdateDriver::packageDigestCheck() {
    std::u16string path = packageSavePath();
    if (path.size() > kSavePathChars) path.resize(kSavePathChars);
    StreamedMd5 md5 = md5OfFileStreamed(path);
    if (md5.bytesRead == 0) return false;
    return text::toUpper(text::fromUtf8(md5Hex(md5.digest))) == text::toUpper(m_update.md5);
}
