#include "fetch/engine_session.h"

#include "app/log.h"
#include "fetch/engine_callback.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "text/text.h"

namespace fetch {
namespace {

constexpr char16_t kEngineKey[] = u"NimboProxy";
// The value is read into 256 bytes: at most 127 characters and the terminator.
constexpr size_t kEngineKeyChars = 128;
constexpr char16_t kEngineLibrary[] = u"\\prism.dll";
constexpr char16_t kProxyLibrary[] = u"\\NimboProxy.dll";
constexpr char16_t kCurlLibrary[] = u"\\libcurl.dll";
constexpr char kChecksumSuffix[] = "_2012";
constexpr char kPriorityName[] = "p2p_priority";
constexpr char kPriorityValue[] = "1";
constexpr int32_t kPriorityKind = 4;

}  // namespace

EngineSession::~EngineSession() {
    releaseQuietly();
    if (m_callBack) m_callBack->destroy();
}

// The registry names a file in the engine's folder (normally NimboProxy.dll itself); a
// value that names a plain folder, or nothing that exists, is taken as the folder.
bool EngineSession::locateAndLoad(std::u16string& directory) {
    if (!plat::readRegistryString(plat::Hive::ClassesRoot, kEngineKey, u"", kEngineKeyChars, directory))
        return false;
    uint32_t attributes = 0;
    if (plat::fileAttributes(directory, attributes) && attributes != plat::kAttributeDirectory)
        directory = plat::parentFolder(directory);
    m_library.reset(plat::loadLibrary(directory + kEngineLibrary));
    return static_cast<bool>(m_library);
}

bool EngineSession::start(const PackageJob& job) {
    LOG(u"prism download start");
    const Package& p = job.package;
    if (p.prismlink.empty() || p.filesize.empty() || p.crc32.empty()) {
        LOG(u"prismlink or filesize or crc32 is empty return");
        return false;
    }
    std::u16string directory;
    if (!locateAndLoad(directory)) {
        LOG(u"加载prism.dll失败");
        return false;
    }
    m_init = reinterpret_cast<InitNimboDownloaderCreatorFunction>(
        plat::librarySymbol(m_library.get(), kInitCreatorExport));
    m_destroy = reinterpret_cast<DestroyNimboDownloaderCreatorFunction>(
        plat::librarySymbol(m_library.get(), kDestroyCreatorExport));
    if (!m_init || !m_destroy) {
        LOG(u"prism.dll 获取导出函数失败");
        return false;
    }
    if (!createTask(job, directory)) return false;

    // Only one task exists at a time and the previous one was stopped by release, so no
    // engine can still call an earlier callback object.
    if (m_callBack) m_callBack->destroy();
    // The task is started on the thread whose loop waits for its notifications.
    m_callBack = new NimboDownloadCallBack(plat::currentThreadId());
    bool registered = m_task->setCallBack(m_callBack);
    LOG(u"prism 注册回掉：%s", app::diag::outcome(registered));
    if (!registered) return false;

    bool started = m_task->start();
    LOG(u"prism 开始任务：%s", app::diag::outcome(started));
    return started;
}

bool EngineSession::createTask(const PackageJob& job, const std::u16string& directory) {
    NimboInitRecord record{};
    for (int i = 0; i < 3; ++i) record.values[i] = kNimboInitValues[i];
    std::u16string proxyPath = directory + kProxyLibrary;
    std::u16string curlPath = directory + kCurlLibrary;
    if (!plat::fileExists(proxyPath) || !plat::fileExists(curlPath)) return false;
    m_creator = m_init(record, text::toUtf8(proxyPath).c_str(), nullptr, text::toUtf8(curlPath).c_str());
    if (!m_creator) return false;

    const Package& p = job.package;
    std::string savePath = text::toUtf8(job.saveDirectory) + "\\" + text::toUtf8(p.name);
    std::string checksum = text::toUtf8(p.crc32) + kChecksumSuffix;
    m_task = m_creator->createTask(text::toUtf8(p.prismlink).c_str(), text::toUtf8(p.filesize).c_str(),
                                   savePath.c_str(), text::toUtf8(job.clientId).c_str(), checksum.c_str(),
                                   text::toUtf8(p.md5).c_str(), 0);
    if (!m_task) return false;
    int32_t code = m_task->setParameter(kPriorityName, kPriorityValue, kPriorityKind);
    LOG(u"设置任务配置参数：paramname:%s, paramvalue:%s, return code:%d", text::fromUtf8(kPriorityName),
        text::fromUtf8(kPriorityValue), code);
    return true;
}

void EngineSession::release() {
    LOG(u"释放所有prism资源");
    releaseQuietly();
}

void EngineSession::releaseQuietly() {
    if (m_task) m_task->stop(0);
    if (m_creator && m_task) {
        m_creator->destroyTask(m_task);
        m_task = nullptr;
    }
    if (m_destroy && m_creator) {
        m_destroy(m_creator);
        m_creator = nullptr;
    }
    if (m_library) {
        m_library.reset();
        m_init = nullptr;
        m_destroy = nullptr;
    }
}

}  // namespace fetch
