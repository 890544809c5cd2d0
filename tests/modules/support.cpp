#include "support.h"

#include <httplib.h>
#include <cstdlib>
#include <thread>

#include "app/md5.h"
#include "platform/text.h"

namespace modtest {

struct TestServer::Impl {
    httplib::Server http;
    std::thread thread;
    mutable std::mutex mutex;
    std::map<std::string, Route> routes;
    std::map<std::string, int> hits;
    std::vector<SeenRequest> requests;

    void answer(const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex);
        SeenRequest seen{req.target, {}};
        for (const auto& [name, value] : req.headers)
            if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT")
                seen.headers.emplace(name, value);
        requests.push_back(seen);
        ++hits[req.path];
        auto found = routes.find(req.path);
        if (found == routes.end()) {
            res.status = 404;
            return;
        }
        const Route& r = found->second;
        res.status = r.status;
        if (!r.location.empty()) res.set_header("Location", r.location);
        if (r.chunked) {
            std::string body = r.body;
            res.set_chunked_content_provider("application/octet-stream",
                                             [body](size_t, httplib::DataSink& sink) {
                                                 for (size_t at = 0; at < body.size(); at += 1000)
                                                     sink.write(body.data() + at, std::min<size_t>(1000, body.size() - at));
                                                 sink.done();
                                                 return true;
                                             });
        } else if (!r.body.empty()) {
            res.set_content(r.body, "application/octet-stream");
        }
    }
};

TestServer::TestServer() : m_impl(new Impl) {
    m_impl->http.Get(".*", [this](const httplib::Request& req, httplib::Response& res) { m_impl->answer(req, res); });
    m_port = m_impl->http.bind_to_any_port("127.0.0.1");
    m_impl->thread = std::thread([this] { m_impl->http.listen_after_bind(); });
    while (!m_impl->http.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestServer::~TestServer() {
    m_impl->http.stop();
    m_impl->thread.join();
    delete m_impl;
}

std::string TestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void TestServer::route(const std::string& path, Route r) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->routes[path] = std::move(r);
}

void TestServer::clear() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->routes.clear();
    m_impl->hits.clear();
    m_impl->requests.clear();
}

int TestServer::hits(const std::string& path) const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto found = m_impl->hits.find(path);
    return found == m_impl->hits.end() ? 0 : found->second;
}

std::vector<SeenRequest> TestServer::requests() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->requests;
}

TestServer& server() {
    static TestServer* shared = new TestServer;  // never torn down under a running test
    return *shared;
}

std::string md5(const std::string& bytes) { return md5OfBuffer(bytes.data(), bytes.size()); }
std::u16string u(const std::string& s) { return text::fromUtf8(s); }
std::string narrow(const std::u16string& s) { return text::toUtf8(s); }
std::u16string core(const fs::path& p) { return u(testsupport::windowsPath(p)); }

namespace {

std::string slashed(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

}  // namespace

void ModuleTest::SetUp() {
    server().clear();
    m_sandbox.setDeploy("[servers]\ndomain1=" + server().url() + "\n");
    testsupport::writeFile(m_sandbox.playerExe(), "MZ stand-in player\n");
    m_sandbox.registerPlayer(m_sandbox.playerExe());
    m_sandbox.applyToThisProcess();
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
    testsupport::writeFile(installed(name), content);
}

std::string ModuleTest::contentOf(const std::string& name) const { return testsupport::readFile(installed(name)); }

std::string ModuleTest::archiveRoute(const std::string& dir, const std::string& name) const {
    return "/" + dir + "/bin/" + slashed(name) + ".zip";
}

void ModuleTest::publish(const std::string& dir, const std::vector<Module>& modules) {
    std::string list = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root>\r\n";
    for (const Module& m : modules) {
        std::string leaf = slashed(m.name).substr(slashed(m.name).rfind('/') + 1);
        std::string archive = m.archive.empty() ? makeZip({{leaf, m.content}}) : m.archive;
        server().file(archiveRoute(dir, m.name), archive);
        list += "<File md5=\"" + md5(m.content) + "\" zipmd5=\"" + md5(archive) + "\">" + m.name + "</File>\r\n";
    }
    server().file("/" + dir + "/update.xml", list + "</root>\r\n");
}

void ModuleTest::publishConfig(const std::string& upElements) {
    server().file("/product/OvUpdate/upcfg.xml",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root><updates>" + upElements + "</updates></root>");
}

void ModuleTest::setDbgCfg(const std::string& url) { m_sandbox.addSetting("OvUpdate.ini", "update", "dbg_cfg", url); }

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
        if (ext == ".bak" || ext == ".old" || ext == ".BAK" || ext == ".OLD") found.push_back(entry.path().string());
    }
    return found;
}

}  // namespace modtest
