// The binary contract with the maker's peer-to-peer download engine (prism.dll). The
// engine's objects are called by their position in the table of virtual operations, so
// the order of the virtual functions below is the contract, slot by slot; the slots the
// agent never calls keep their place under a "reserved" name. No class here has a virtual
// destructor, because under the Itanium ABI a virtual destructor takes two slots and
// would shift every slot after it: the callback interface's slot 0 is an explicit destroy
// operation instead, and engine objects are disposed of through the creator and the
// destroy export.
#pragma once
#include <cstdint>

class INimboDownloaderTaskCallBack {
public:
    virtual void destroy() = 0;  // slot 0: disposes of the object
    // Each notification means its event happened when its first argument is non-zero,
    // and answers non-zero when it was passed on.
    virtual int32_t onPackageDone(int32_t done) = 0;                                    // slot 1
    virtual int32_t onDownloadFailed(int32_t failed, int32_t code) = 0;                 // slot 2
    virtual int32_t onTaskStatus(int32_t changed, int32_t status, int32_t detail) = 0;  // slot 3
    virtual int32_t onCallbackReady(int32_t ready) = 0;                                 // slot 4

protected:
    ~INimboDownloaderTaskCallBack() = default;
};

class INimboDownloaderTask {
public:
    virtual void reserved0() = 0;                                          // slot 0
    virtual bool start() = 0;                                              // slot 1
    virtual void stop(int32_t flags) = 0;                                  // slot 2
    virtual bool setCallBack(INimboDownloaderTaskCallBack* callBack) = 0;  // slot 3
    virtual void reserved4() = 0;
    virtual void reserved5() = 0;
    virtual void reserved6() = 0;
    virtual void reserved7() = 0;
    virtual void reserved8() = 0;
    virtual void reserved9() = 0;
    virtual void reserved10() = 0;
    virtual void reserved11() = 0;
    virtual int32_t setParameter(const char* name, const char* value, int32_t kind) = 0;  // slot 12

protected:
    ~INimboDownloaderTask() = default;
};

class INimboDownloaderCreator {
public:
    virtual void reserved0() = 0;  // slot 0
    // slot 1: a task that downloads link to savePath; null on failure. All texts UTF-8.
    virtual INimboDownloaderTask* createTask(const char* link, const char* fileSize, const char* savePath,
                                             const char* clientId, const char* checksum, const char* md5,
                                             int32_t flags) = 0;
    virtual void reserved2() = 0;                              // slot 2
    virtual void destroyTask(INimboDownloaderTask* task) = 0;  // slot 3

protected:
    ~INimboDownloaderCreator() = default;
};

// Passed by value to the init export: 35 integers, all zero but the first three.
struct NimboInitRecord {
    int32_t values[35];
};
static_assert(sizeof(NimboInitRecord) == 140, "the engine takes exactly 140 bytes");
inline constexpr int32_t kNimboInitValues[3] = {201, 11, 117};

// Exports of prism.dll (C calling convention): the creator from the record, the path of
// NimboProxy.dll, a null pointer and the path of the engine's libcurl.dll (UTF-8).
using InitNimboDownloaderCreatorFunction = INimboDownloaderCreator* (*)(NimboInitRecord record,
                                                                        const char* proxyPath, void* reserved,
                                                                        const char* curlPath);
using DestroyNimboDownloaderCreatorFunction = void (*)(INimboDownloaderCreator* creator);
inline constexpr char kInitCreatorExport[] = "InitNimboDownloaderCreator";
inline constexpr char kDestroyCreatorExport[] = "DestroyNimboDownloaderCreator";
