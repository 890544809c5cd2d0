#include "support.h"

#include <httplib.h>
#include <zip.h>
#include <zlib.h>

#include <cstdlib>
#include <thread>

#include "app/md5.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "win32/test_registry.h"

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

namespace {

std::string le(uint32_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

zip_fileinfo fixedDate(uint32_t externalAttr) {
    zip_fileinfo info{};
    info.tmz_date.tm_year = 2020;
    info.tmz_date.tm_mon = 0;  // January
    info.tmz_date.tm_mday = 2;
    info.tmz_date.tm_hour = 3;
    info.tmz_date.tm_min = 4;
    info.tmz_date.tm_sec = 6;
    info.external_fa = externalAttr;
    return info;
}

// minizip writes to a path: each archive is made in a scratch file and read back.
template <typename Fill>
std::string zipThrough(Fill fill) {
    std::string path = (fs::temp_directory_path() / "ovmod-zip-XXXXXX").string();
    int fd = mkstemp(path.data());
    if (fd < 0) std::abort();
    close(fd);
    zipFile zf = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zf) std::abort();
    fill(zf);
    zipClose(zf, nullptr);
    std::string bytes = e2e::readFile(path);
    fs::remove(path);
    return bytes;
}

}  // namespace

std::string makeZip(const std::vector<ZipEntry>& entries) {
    return zipThrough([&](zipFile zf) {
        for (const ZipEntry& e : entries) {
            zip_fileinfo info = fixedDate(e.externalAttr);
            std::string extra;
            if (e.unixMtime >= 0) extra = "UT" + le(5, 2) + "\x01" + le(static_cast<uint32_t>(e.unixMtime), 4);
            zipOpenNewFileInZip64(zf, e.name.c_str(), &info, extra.data(), static_cast<uInt>(extra.size()),
                                  extra.data(), static_cast<uInt>(extra.size()), nullptr,
                                  e.deflate ? Z_DEFLATED : 0, Z_DEFAULT_COMPRESSION, 0);
            zipWriteInFileInZip(zf, e.data.data(), static_cast<unsigned>(e.data.size()));
            zipCloseFileInZip(zf);
        }
    });
}

std::string makeBombZip(const std::string& name, uint32_t declaredSize, uint32_t realSize) {
    std::string zeros(1 << 20, '\0'), compressed;
    z_stream s{};
    deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    char out[1 << 16];
    uLong crc = crc32(0, nullptr, 0);
    for (uint32_t fed = 0; fed < realSize; fed += zeros.size()) {
        s.next_in = reinterpret_cast<Bytef*>(zeros.data());
        s.avail_in = static_cast<uInt>(zeros.size());
        crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
        int flush = fed + zeros.size() >= realSize ? Z_FINISH : Z_NO_FLUSH;
        do {
            s.next_out = reinterpret_cast<Bytef*>(out);
            s.avail_out = sizeof out;
            deflate(&s, flush);
            compressed.append(out, sizeof out - s.avail_out);
        } while (s.avail_out == 0);
    }
    deflateEnd(&s);
    return zipThrough([&](zipFile zf) {
        zip_fileinfo info = fixedDate(0);
        zipOpenNewFileInZip2(zf, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9, 1);
        zipWriteInFileInZip(zf, compressed.data(), static_cast<unsigned>(compressed.size()));
        zipCloseFileInZipRaw(zf, declaredSize, crc);
    });
}

std::string md5(const std::string& bytes) { return md5OfBuffer(bytes.data(), bytes.size()); }
std::u16string u(const std::string& s) { return text::fromUtf8(s); }
std::string narrow(const std::u16string& s) { return text::toUtf8(s); }
std::u16string core(const fs::path& p) { return u(e2e::windowsPath(p.string())); }

namespace {

std::string slashed(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

}  // namespace

#ifdef _WIN32
namespace {

const char16_t kPlayerKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe";

std::wstring wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

bool writePlayerKey(const std::u16string& path) {
    return testreg::setString(HKEY_LOCAL_MACHINE, wide(kPlayerKey), L"", wide(path));
}

}  // namespace

PlayerRegistration::PlayerRegistration(const fs::path& exe) {
    std::u16string previous;
    if (plat::readRegistryString(plat::Hive::LocalMachine, kPlayerKey, u"", 2048, previous)) m_previous = previous;
    if (!writePlayerKey(core(exe))) ADD_FAILURE() << "cannot register the player in the registry";
}

PlayerRegistration::~PlayerRegistration() {
    if (m_previous) writePlayerKey(*m_previous);
    else testreg::deleteKey(HKEY_LOCAL_MACHINE, wide(kPlayerKey));
}
#else
PlayerRegistration::PlayerRegistration(const fs::path&) {}
PlayerRegistration::~PlayerRegistration() {}
#endif

void ModuleTest::SetUp() {
    server().clear();
    m_sandbox.setDeploy("[servers]\ndomain1=" + server().url() + "\n");
    e2e::writeFile(m_sandbox.playerExe(), "MZ stand-in player\n");
    m_sandbox.registerPlayer(m_sandbox.playerExe());
    m_registration = std::make_unique<PlayerRegistration>(m_sandbox.playerExe());
    for (const auto& [name, value] : m_sandbox.environment()) {
        const char* old = std::getenv(name.c_str());
        m_savedEnv.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    m_sandbox.applyToThisProcess();
    m_updater.setLogging(true);
    m_updater.setLogSink([this](const std::u16string& line) { m_log.push_back(narrow(line)); });
}

void ModuleTest::TearDown() {
    if (std::getenv("OV_DUMP_LOG"))
        for (const auto& line : m_log) std::printf("  | %s\n", line.c_str());
    server().clear();
    m_registration.reset();
    for (const auto& [name, value] : m_savedEnv) {
        if (value) setenv(name.c_str(), value->c_str(), 1);
        else unsetenv(name.c_str());
    }
}

fs::path ModuleTest::installed(const std::string& name) const { return player() / slashed(name); }

void ModuleTest::install(const std::string& name, const std::string& content) {
    e2e::writeFile(installed(name), content);
}

std::string ModuleTest::contentOf(const std::string& name) const { return e2e::readFile(installed(name)); }

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
