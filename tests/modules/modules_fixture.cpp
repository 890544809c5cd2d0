#include "modules_fixture.h"

#include <cstdio>
#include <cstdlib>

#include "app/md5.h"
#include "text/text.h"

namespace modulestest {

testsupport::HttpServer& server() {
    static auto* shared = new testsupport::HttpServer;  // never torn down under a running test
    return *shared;
}

std::string md5(const std::string& bytes) { return app::md5OfBuffer(bytes.data(), bytes.size()); }
std::u16string u(const std::string& s) { return text::fromUtf8(s); }
std::string narrow(const std::u16string& s) { return text::toUtf8(s); }

namespace {

std::string slashed(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

}  // namespace

void ModuleTest::SetUp() {
    server().clear();
    m_sandbox.setServers(server().base());
    fs::create_directories(m_sandbox.dataFolder());
    writeFile(player() / "Orvix.exe", "MZ stand-in player\n");
    m_sandbox.registerPlayer(player() / "Orvix.exe");
    m_updater.setLogging(true);
    m_updater.setLogSink([this](const std::u16string& line) { m_log.push_back(narrow(line)); });
}

void ModuleTest::TearDown() {
    if (std::getenv("OV_DUMP_LOG"))
        for (const auto& line : m_log) std::printf("  | %s\n", line.c_str());
    server().clear();
}

fs::path ModuleTest::installed(const std::string& name) const { return player() / slashed(name); }

void ModuleTest::install(const std::string& name, const std::string& content) {
    writeFile(installed(name), content);
}

std::string ModuleTest::contentOf(const std::string& name) const { return readFile(installed(name)); }

std::string ModuleTest::archiveRoute(const std::string& dir, const std::string& name) const {
    return "/" + dir + "/bin/" + slashed(name) + ".zip";
}

void ModuleTest::publish(const std::string& dir, const std::vector<Module>& modules) {
    std::string list = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root>\r\n";
    for (const Module& m : modules) {
        std::string leaf = slashed(m.name).substr(slashed(m.name).rfind('/') + 1);
        std::string archive = m.archive.empty() ? makeZip({{leaf, m.content}}) : m.archive;
        server().serve(archiveRoute(dir, m.name), {archive});
        list += "<File md5=\"" + md5(m.content) + "\" zipmd5=\"" + md5(archive) + "\">" + m.name + "</File>\r\n";
    }
    server().serve("/" + dir + "/update.xml", {list + "</root>\r\n"});
}

void ModuleTest::publishConfig(const std::string& upElements) {
    const std::string document =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root><updates>" + upElements + "</updates></root>";
    server().serve("/product/OvUpdate/upcfg.xml", {document});
}

void ModuleTest::setDbgCfg(const std::string& url) {
    writeFile(m_sandbox.dataFolder() / "OvUpdate.ini", "[update]\r\ndbg_cfg=" + url + "\r\n");
}

bool ModuleTest::logged(const std::string& line) const { return countLogged(line) > 0; }

int ModuleTest::countLogged(const std::string& line) const {
    int n = 0;
    for (const auto& l : m_log) n += l == line;
    return n;
}

std::vector<std::string> ModuleTest::backupsLeft() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(player())) {
        std::string ext = entry.path().extension().string();
        if (ext == ".bak" || ext == ".old" || ext == ".BAK" || ext == ".OLD")
            found.push_back(entry.path().string());
    }
    return found;
}

}  // namespace modulestest
