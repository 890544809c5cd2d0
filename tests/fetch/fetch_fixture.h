// What the fetch tests share: the support library's helpers, addresses in the agent's wide
// form, this thread's messages, and a world for the engine tests.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fetch/engine_callback.h"
#include "fetch/package.h"
#include "text/text.h"
#include "platform/thread_messages.h"
#include "support/agent_sandbox.h"
#include "support/file_io.h"
#include "support/host_sandbox.h"
#include "support/http_server.h"
#include "support/poll.h"
#include "support/process.h"

namespace fetchtest {

namespace fs = std::filesystem;
using testsupport::HostTest;
using testsupport::HttpServer;
using testsupport::readFile;
using testsupport::readLines;
using testsupport::Reply;
using testsupport::TempFolder;
using testsupport::writeFile;

// An address of server as the agent takes it.
inline std::u16string wideUrl(const HttpServer& server, const std::string& path) {
    return text::fromUtf8(server.url(path));
}

// The next message of this thread, 0 when none comes within limitMs.
inline uint32_t nextMessage(int limitMs = 5000) {
    plat::ThreadMessage message;
    bool came = testsupport::waitUntil([&] { return plat::peekThreadMessage(message, 0, 0, true); },
                                       std::chrono::milliseconds(limitMs));
    return came ? message.message : 0;
}

// A host with the stand-in engine copied into a folder of its own, the registry key that
// leads to it, a journal of the engine's calls, and this thread standing in for the normal
// update thread.
class EngineWorld : public testsupport::HostSandbox {
public:
    static constexpr char kEngineKey[] = "HKEY_CLASSES_ROOT\\NimboProxy";

    EngineWorld() {
        for (const char* name : {"prism.dll", "NimboProxy.dll"})
            writeFile(engineDir() / name, readFile(testsupport::programFolder() / name));
        writeFile(engineDir() / "libcurl.dll", "stand-in companion file\n");
        testsupport::forgetRegistryKey(kEngineKey);  // what a killed test program left
        pointRegistryAt(agentPath("engine/NimboProxy.dll"));
        setenv("PRISM_STANDIN_JOURNAL", journalFile().u8string().c_str(), 1);
        unsetenv("PRISM_STANDIN_FAIL");
        while (nextMessage(0) != 0) {
        }
    }
    ~EngineWorld() {
        unsetenv("PRISM_STANDIN_JOURNAL");
        unsetenv("PRISM_STANDIN_FAIL");
    }

    fs::path engineDir() const { return path() / "engine"; }
    fs::path journalFile() const { return path() / "journal.txt"; }
    std::vector<std::string> journal() const { return readLines(journalFile()); }

    // The default value of the engine's key; an empty value takes the key away.
    void pointRegistryAt(const std::u16string& value) {
        if (value.empty()) registry().removeKey(kEngineKey);
        else registry().set(kEngineKey, "", text::toUtf8(value));
    }

    // A job for the package at link, saved as pkg.exe in the world's folder "save".
    fetch::PackageJob job(const std::u16string& link) const {
        fs::create_directories(path() / "save");
        fetch::PackageJob job;
        job.saveDirectory = agentPath("save");
        job.package.name = u"pkg.exe";
        job.package.prismlink = link;
        job.package.filesize = u"1000";  // above every package of these tests
        job.package.crc32 = u"1a2b3c4d";
        job.package.md5 = u"0123456789abcdef0123456789abcdef";
        job.clientId = u"client-1";
        return job;
    }
};

}  // namespace fetchtest
