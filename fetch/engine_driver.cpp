// The agent's side of the maker's peer-to-peer engine: find and load it through the
// registry, create one task for the chosen package, register the callback object and
// start the task. The download runs inside the engine and its outcome comes back as a
// thread message. Whatever was loaded or created stays until releaseEngine, which every
// end of the run calls.
#include <string>

#include "app/log.h"
#include "decision/update_driver.h"
#include "fetch/engine_callback.h"
#include "platform/files.h"
#include "platform/library.h"
#include "platform/registry.h"
#include "platform/text.h"

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

const char16_t* outcome(bool ok) { return ok ? u"success" : u"fail"; }

}  // namespace

// The registry names a file in the engine's folder (normally NimboProxy.dll itself); a
// value that names a plain folder, or nothing that exists, is taken as the folder.
bool UpdateDriver::locateAndLoadEngine(std::u16string& directory) {
    if (!plat::readRegistryString(plat::Hive::ClassesRoot, kEngineKey, u"", kEngineKeyChars, directory))
        return false;
    uint32_t attributes = 0;
    if (plat::fileAttributes(directory, attributes) && attributes != plat::kAttributeDirectory)
        directory = plat::parentFolder(directory);
    m_engineLibrary = plat::loadLibrary(directory + kEngineLibrary);
    return m_engineLibrary != nullptr;
}

bool UpdateDriver::startP2PDownload() {
    LOG(u"prism download start");
    if (m_update.prismlink.empty() || m_update.filesize.empty() || m_update.crc32.empty()) {
        LOG(u"prismlink or filesize or crc32 is empty return");
        return false;
    }
    std::u16string directory;
    if (!locateAndLoadEngine(directory)) {
        LOG(u"加载prism.dll失败");
        return false;
    }
    m_engineInit = reinterpret_cast<InitNimboDownloaderCreatorFunction>(
        plat::librarySymbol(m_engineLibrary, kInitCreatorExport));
    m_engineDestroy = reinterpret_cast<DestroyNimboDownloaderCreatorFunction>(
        plat::librarySymbol(m_engineLibrary, kDestroyCreatorExport));
    if (!m_engineInit || !m_engineDestroy) {
        LOG(u"prism.dll 获取导出函数失败");
        return false;
    }
    NimboInitRecord record{};
    for (int i = 0; i < 3; ++i) record.values[i] = kNimboInitValues[i];

    std::u16string proxyPath = directory + kProxyLibrary;
    std::u16string curlPath = directory + kCurlLibrary;
    if (!plat::fileExists(proxyPath) || !plat::fileExists(curlPath)) return false;
    m_engineCreator = m_engineInit(record, text::toUtf8(proxyPath).c_str(), nullptr, text::toUtf8(curlPath).c_str());
    if (!m_engineCreator) return false;

    std::string savePath = text::toUtf8(m_saveDirectory) + "\\" + text::toUtf8(m_update.name);
    std::string checksum = text::toUtf8(m_update.crc32) + kChecksumSuffix;
    m_engineTask = m_engineCreator->createTask(text::toUtf8(m_update.prismlink).c_str(),
                                               text::toUtf8(m_update.filesize).c_str(), savePath.c_str(),
                                               text::toUtf8(m_clientId).c_str(), checksum.c_str(),
                                               text::toUtf8(m_update.md5).c_str(), 0);
    if (!m_engineTask) return false;

    int32_t code = m_engineTask->setParameter(kPriorityName, kPriorityValue, kPriorityKind);
    LOG(u"设置任务配置参数：paramname:%s, paramvalue:%s, return code:%d", text::fromUtf8(kPriorityName),
        text::fromUtf8(kPriorityValue), code);

    // Only one task exists at a time and the previous one was stopped by releaseEngine, so
    // no engine can still call an earlier callback object.
    if (m_engineCallBack) m_engineCallBack->destroy();
    m_engineCallBack = new NimboDownloadCallBack;
    bool registered = m_engineTask->setCallBack(m_engineCallBack);
    LOG(u"prism 注册回掉：%s", outcome(registered));
    if (!registered) return false;

    bool started = m_engineTask->start();
    LOG(u"prism 开始任务：%s", outcome(started));
    return started;
}

void UpdateDriver::releaseEngine() {
    LOG(u"释放所有prism资源");
    if (m_engineTask) m_engineTask->stop(0);
    if (m_engineCreator && m_engineTask) {
        m_engineCreator->destroyTask(m_engineTask);
        m_engineTask = nullptr;
    }
    if (m_engineDestroy && m_engineCreator) {
        m_engineDestroy(m_engineCreator);
        m_engineCreator = nullptr;
    }
    if (m_engineLibrary) {
        plat::freeLibrary(m_engineLibrary);
        m_engineLibrary = nullptr;
        m_engineInit = nullptr;
        m_engineDestroy = nullptr;
    }
}

void UpdateDriver::logCallbackReady() { LOG(u"prism 回掉注册成功"); }
