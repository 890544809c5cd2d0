// What the module-update tests share: a local module source (one web server for the whole
// test program, its routes replaced per test) and a fixture that gives each test a host
// sandbox with a player folder and an updater whose log lines are kept.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "modules/module_updater.h"
#include "support/file_io.h"
#include "support/host_sandbox.h"
#include "support/http_server.h"
#include "support/zip_archive.h"

namespace modulestest {

namespace fs = std::filesystem;
using namespace modules;  // the subject of these tests
using testsupport::agentPath;
using testsupport::makeBombZip;
using testsupport::makeZip;
using testsupport::readFile;
using testsupport::writeFile;

// Started on first use, lives until the test program ends; the deployment file of every
// sandbox names it as the first download domain.
testsupport::HttpServer& server();

std::string md5(const std::string& bytes);
std::u16string u(const std::string& s);
std::string narrow(const std::u16string& s);

// A module the source offers: its name (with "\"), the new content, and optionally the
// archive to serve instead of the one made from the content.
struct Module {
    std::string name;
    std::string content;
    std::string archive{};
    std::string listedAfter{};  // elements written after its "File" (its patches)
};

// A zstd frame holding content as it is (raw blocks): a patch made by hand, with no
// compressor in the test.
std::string rawZstdFrame(const std::string& content);
// A patch of one stretch: old's bytes with diff added, then extra; diff no longer than old.
std::string onePatch(const std::string& old, const std::string& updated);

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    fs::path player() const { return m_sandbox.path() / "player"; }
    fs::path work() const { return player() / "OvUpdate"; }
    fs::path installed(const std::string& name) const;  // name with "\"
    void install(const std::string& name, const std::string& content);
    std::string contentOf(const std::string& name) const;

    // Serves update.xml and the archives under /<dir>.
    void publish(const std::string& dir, const std::vector<Module>& modules);
    std::string archiveRoute(const std::string& dir, const std::string& name) const;
    // Serves upcfg.xml at the default address with the given "up" elements.
    void publishConfig(const std::string& upElements);
    void setDbgCfg(const std::string& url);

    bool logged(const std::string& line) const;
    int countLogged(const std::string& line) const;
    // Every file below the player folder whose name ends in ".bak" or ".old".
    std::vector<std::string> backupsLeft() const;

    testsupport::HostSandbox m_sandbox;
    ModuleUpdater m_updater;
    std::vector<std::string> m_log;
};

}  // namespace modulestest
