// Stand-in of the maker's peer-to-peer engine (prism.dll). It takes the agent's calls in
// their order and downloads the package link over plain HTTP on a thread of its own,
// reporting through the registered callback: notification 4 when the task runs, then 1
// when the package is saved or 2 when it is not. Stopping a task waits for its thread, so
// nothing of the library runs once the agent has released it.
#include <atomic>
#include <string>
#include <thread>

#include "fetch/engine_interface.h"
#include "platform/files.h"
#include "text/text.h"
#include "standins/prism/http_get.h"
#include "standins/prism/journal.h"

#ifdef _WIN32
#define PRISM_EXPORT extern "C" __declspec(dllexport)
#else
#define PRISM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::string shown(const char* s) { return s ? s : "(null)"; }

class Task final : public INimboDownloaderTask {
public:
    Task(std::string link, std::string savePath) : m_link(std::move(link)), m_savePath(std::move(savePath)) {}
    ~Task() { halt(); }

    void reserved0() override { prism::journal("task.reserved"); }
    bool start() override {
        prism::journal("task.start");
        if (prism::shouldFail("start") || m_thread.joinable()) return false;
        m_thread = std::thread([this] { download(); });
        return true;
    }
    void stop(int32_t flags) override {
        prism::journal("task.stop " + std::to_string(flags));
        halt();
    }
    bool setCallBack(INimboDownloaderTaskCallBack* callBack) override {
        prism::journal("task.setCallBack");
        if (prism::shouldFail("callback") || !callBack) return false;
        m_callBack = callBack;
        return true;
    }
    void reserved4() override { prism::journal("task.reserved"); }
    void reserved5() override { prism::journal("task.reserved"); }
    void reserved6() override { prism::journal("task.reserved"); }
    void reserved7() override { prism::journal("task.reserved"); }
    void reserved8() override { prism::journal("task.reserved"); }
    void reserved9() override { prism::journal("task.reserved"); }
    void reserved10() override { prism::journal("task.reserved"); }
    void reserved11() override { prism::journal("task.reserved"); }
    int32_t setParameter(const char* name, const char* value, int32_t kind) override {
        prism::journal("task.setParameter " + shown(name) + " " + shown(value) + " " + std::to_string(kind));
        return 0;
    }

private:
    void download() {
        m_callBack->onCallbackReady(1);
        prism::journal("notify 4");
        long code = prism::httpGet(m_link, text::fromUtf8(m_savePath), m_cancel);
        if (m_cancel) return;  // stopped: the agent no longer listens
        if (code == 0) {
            prism::journal("notify 1");
            m_callBack->onPackageDone(1);
        } else {
            prism::journal("notify 2 " + std::to_string(code));
            m_callBack->onDownloadFailed(1, static_cast<int32_t>(code));
        }
    }
    void halt() {
        m_cancel = true;
        if (m_thread.joinable()) m_thread.join();
    }

    std::string m_link;
    std::string m_savePath;
    INimboDownloaderTaskCallBack* m_callBack = nullptr;
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
};

class Creator final : public INimboDownloaderCreator {
public:
    void reserved0() override { prism::journal("creator.reserved"); }
    INimboDownloaderTask* createTask(const char* link, const char* fileSize, const char* savePath,
                                     const char* clientId, const char* checksum, const char* md5,
                                     int32_t flags) override {
        prism::journal("creator.createTask " + shown(link) + " " + shown(fileSize) + " " + shown(savePath) + " " +
                       shown(clientId) + " " + shown(checksum) + " " + shown(md5) + " " + std::to_string(flags));
        if (prism::shouldFail("task") || !link || !savePath) return nullptr;
        return new Task(link, savePath);
    }
    void reserved2() override { prism::journal("creator.reserved"); }
    void destroyTask(INimboDownloaderTask* task) override {
        prism::journal("creator.destroyTask");
        delete static_cast<Task*>(task);
    }
};

}  // namespace

// The engine needs its proxy library and its own libcurl beside it, and the agent's
// fixed record.
PRISM_EXPORT INimboDownloaderCreator* InitNimboDownloaderCreator(NimboInitRecord record, const char* proxyPath,
                                                                 void* reserved, const char* curlPath) {
    bool zeros = true;
    for (int i = 3; i < 35; ++i) zeros = zeros && record.values[i] == 0;
    prism::journal("init " + std::to_string(record.values[0]) + " " + std::to_string(record.values[1]) + " " +
                   std::to_string(record.values[2]) + (zeros ? " zeros " : " nonzero ") + shown(proxyPath) + " " +
                   (reserved ? "set" : "null") + " " + shown(curlPath));
    bool fixed = record.values[0] == kNimboInitValues[0] && record.values[1] == kNimboInitValues[1] &&
                 record.values[2] == kNimboInitValues[2];
    if (prism::shouldFail("init") || !fixed || !proxyPath || !curlPath ||
        !plat::fileExists(text::fromUtf8(proxyPath)) || !plat::fileExists(text::fromUtf8(curlPath)))
        return nullptr;
    return new Creator;
}

PRISM_EXPORT void DestroyNimboDownloaderCreator(INimboDownloaderCreator* creator) {
    prism::journal("destroyCreator");
    delete static_cast<Creator*>(creator);
}
