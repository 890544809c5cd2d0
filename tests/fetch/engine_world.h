// A world for the engine tests: the stand-in engine copied into a folder of its own, the
// registry key that leads to it, a journal of the engine's calls, and this thread standing
// in for the normal update thread.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/process_state.h"
#include "fetch/package.h"
#include "fetch/test_support.h"
#include "platform/thread_messages.h"
#include "win32/test_registry.h"

class EngineWorld {
public:
    EngineWorld() {
        namespace fs = std::filesystem;
        fs::create_directories(engineDir());
        for (const char* name : {"prism.dll", "NimboProxy.dll"})
            fs::copy_file(fs::path(OV_BIN_DIR) / name, engineDir() / name);
        writeFile(engineDir() / "libcurl.dll", "stand-in companion file\n");
        pointRegistryAt(m_folder.agentPath("engine\\NimboProxy.dll"));
        setenv("OVUPDATE_REGISTRY", registryFile().c_str(), 1);
        setenv("PRISM_STANDIN_JOURNAL", journalFile().c_str(), 1);
        unsetenv("PRISM_STANDIN_FAIL");
        processState().normalThreadId = plat::currentThreadId();
        plat::ThreadMessage ignored;
        while (plat::peekThreadMessage(ignored, 0, 0, true)) {
        }
    }
    ~EngineWorld() {
        pointRegistryAt(u"");
        unsetenv("PRISM_STANDIN_JOURNAL");
        unsetenv("PRISM_STANDIN_FAIL");
    }

    std::filesystem::path engineDir() const { return m_folder.path() / "engine"; }
    std::string registryFile() const { return (m_folder.path() / "registry.reg").string(); }
    std::string journalFile() const { return (m_folder.path() / "journal.txt").string(); }
    const TempFolder& folder() const { return m_folder; }

    // The default value of HKEY_CLASSES_ROOT\NimboProxy; an empty value removes the key.
    void pointRegistryAt(const std::u16string& value) {
#ifdef _WIN32
        testreg::deleteKey(HKEY_CLASSES_ROOT, L"NimboProxy");
        if (!value.empty())
            testreg::setString(HKEY_CLASSES_ROOT, L"NimboProxy", L"", std::wstring(value.begin(), value.end()));
#else
        std::string escaped;
        for (char c : text::toUtf8(value)) {
            if (c == '\\' || c == '"') escaped += '\\';
            escaped += c;
        }
        std::string body = "Windows Registry Editor Version 5.00\n";
        if (!value.empty()) body += "\n[HKEY_CLASSES_ROOT\\NimboProxy]\n@=\"" + escaped + "\"\n";
        writeFile(registryFile(), body);
#endif
    }

    // A job for the package at link, saved as pkg.exe in the world's folder.
    fetch::PackageJob job(const std::u16string& link) const {
        std::filesystem::create_directories(m_folder.path() / "save");
        fetch::PackageJob job;
        job.saveDirectory = m_folder.agentPath("save");
        job.package.name = u"pkg.exe";
        job.package.prismlink = link;
        job.package.filesize = u"7";
        job.package.crc32 = u"1a2b3c4d";
        job.package.md5 = u"0123456789abcdef0123456789abcdef";
        job.clientId = u"client-1";
        return job;
    }

    std::vector<std::string> journal() const {
        std::vector<std::string> lines;
        std::ifstream in(journalFile());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // The next message of this thread, 0 when none comes within limitMs.
    static uint32_t nextMessage(int limitMs = 5000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        plat::ThreadMessage message;
        while (!plat::peekThreadMessage(message, 0, 0, true)) {
            if (std::chrono::steady_clock::now() > deadline) return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return message.message;
    }

private:
    TempFolder m_folder;
};
