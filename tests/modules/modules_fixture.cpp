#include "modules_fixture.h"

#include <cstdio>
#include <algorithm>
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
        list += "<File md5=\"" + md5(m.content) + "\" zipmd5=\"" + md5(archive) + "\">" + m.name + "</File>\r\n" +
                m.listedAfter;
    }
    server().serve("/" + dir + "/update.xml", {list + "</root>\r\n"});
}

std::string rawZstdFrame(const std::string& content) {
    std::string frame("\x28\xb5\x2f\xfd", 4);
    // Single segment: the content size in one byte, or in two less 256 (up to 64 KiB).
    uint32_t size = static_cast<uint32_t>(content.size());
    frame += size < 256 ? '\x20' : '\x60';
    if (size >= 256) size -= 256, frame += static_cast<char>(size & 0xff), size >>= 8;
    frame += static_cast<char>(size & 0xff);
    uint32_t block = static_cast<uint32_t>(content.size()) << 3 | 1;  // raw, last
    for (int i = 0; i < 3; ++i) frame += static_cast<char>(block >> (8 * i));
    return frame + content;
}

namespace {

std::string u64(uint64_t v) {
    std::string out;
    for (int i = 0; i < 8; ++i) out += static_cast<char>(v >> (8 * i));
    return out;
}

}  // namespace

std::string onePatch(const std::string& old, const std::string& updated) {
    size_t add = std::min(old.size(), updated.size());
    std::string diff, extra = updated.substr(add);
    for (size_t i = 0; i < add; ++i) diff += static_cast<char>(updated[i] - old[i]);
    std::string control = u64(add) + u64(extra.size()) + u64(0);
    std::string c = rawZstdFrame(control), d = rawZstdFrame(diff), e = rawZstdFrame(extra);
    return std::string("OVPATCH1") + u64(c.size()) + u64(d.size()) + u64(updated.size()) + c + d + e;
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
