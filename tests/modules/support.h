// What the module-update tests share: a local module source (one cpp-httplib server for
// the whole test program, its routes replaced per test), zip archives made with minizip,
// and a fixture that gives each test a sandboxed player and an updater whose log lines
// are kept.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/host_sandbox.h"
#include "support/zip_archive.h"
#include "modules/module_updater.h"

namespace modtest {

namespace fs = std::filesystem;

struct Route {
    int status = 200;
    std::string body;
    std::string location;  // sent as "Location" when set
    bool chunked = false;
};

struct SeenRequest {
    std::string target;                               // as sent, escapes included
    std::multimap<std::string, std::string> headers;  // what the client sent, nothing added
};

class TestServer {
public:
    TestServer();
    ~TestServer();
    int port() const { return m_port; }
    std::string url(const std::string& path = "") const;

    void route(const std::string& path, Route r);
    void file(const std::string& path, const std::string& body) { route(path, Route{200, body}); }
    void clear();
    int hits(const std::string& path) const;
    std::vector<SeenRequest> requests() const;

private:
    struct Impl;
    Impl* m_impl;
    int m_port = 0;
};

// Started on first use, lives until the test program ends; the deployment file of every
// sandbox names it as the first download domain.
TestServer& server();

using testsupport::makeBombZip;
using testsupport::makeZip;
using testsupport::ZipEntry;

std::string md5(const std::string& bytes);
std::u16string u(const std::string& s);
std::string narrow(const std::u16string& s);
// The agent's form of a path ("\" separators).
std::u16string core(const fs::path& p);

// A module the source offers: its name (with "\"), the new content, and optionally the
// archive to serve instead of the one made from the content.
struct Module {
    std::string name;
    std::string content;
    std::string archive;
};

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    fs::path player() const { return m_sandbox.playerFolder(); }
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

}  // namespace modtest
