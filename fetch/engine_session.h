// One download through the maker's peer-to-peer engine: the engine library found through
// the registry, its creator, one task for the chosen package and the callback object the
// engine reports to. The download runs inside the engine; its outcome comes back as a
// message of the normal update thread. Everything loaded or created is let go by release,
// which every end of the run calls, and by the destructor.
#pragma once
#include <string>

#include "fetch/engine_interface.h"
#include "fetch/package.h"
#include "platform/library.h"

namespace fetch {

class EngineSession {
public:
    EngineSession() = default;
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;
    ~EngineSession();

    // True: the task runs and its outcome arrives as a thread message.
    bool start(const PackageJob& job);
    // Stops and destroys the task, the creator and the library; logs that it does so.
    // Safe in any state, also twice.
    void release();
    bool loaded() const { return static_cast<bool>(m_library); }

private:
    bool locateAndLoad(std::u16string& directory);
    bool createTask(const PackageJob& job, const std::u16string& directory);
    void releaseQuietly();

    plat::UniqueLibrary m_library;
    InitNimboDownloaderCreatorFunction m_init = nullptr;
    DestroyNimboDownloaderCreatorFunction m_destroy = nullptr;
    INimboDownloaderCreator* m_creator = nullptr;
    INimboDownloaderTask* m_task = nullptr;
    // Kept while the engine may still call it: replaced only when a new task registers.
    INimboDownloaderTaskCallBack* m_callBack = nullptr;
};

}  // namespace fetch
