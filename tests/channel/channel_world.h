// One sandbox and one local server for the whole test program: the agent reads its data
// folder and its server list once per process, so every test shares them and starts from
// a cleared channel state.
#pragma once
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "app/md5.h"
#include "channel/offer.h"
#include "fetch/setup_download.h"

namespace fs = std::filesystem;

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
// A path as the agent writes it: "\" only.
inline std::string agentPath(const fs::path& path) {
    std::string p = path.string();
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

class ChannelWorld {
public:
    static ChannelWorld& get() {
        static ChannelWorld world;
        return world;
    }

    void serve(const std::string& path, const std::string& body, int status = 200) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_files[path] = {status, body};
    }
    int hits(const std::string& path) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_hits[path];
    }
    // While held, answers to package requests wait (at most a few seconds) for release.
    void holdPackages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = true;
    }
    void releasePackages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = false;
        m_released.notify_all();
    }

    // Back to a fresh process: no offer, no download, nothing served, no package on disk.
    void reset() {
        releasePackages();
        waitWhile([] { return fetch::setupDownload().running.load(); });
        channel::offerRecord() = channel::Offer{};
        fetch::SetupDownloadState& download = fetch::setupDownload();
        download.url.clear();
        download.savePath.clear();
        download.result = false;
        download.progressTotal = 0;
        download.progressNow = 0;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_files.clear();
        m_hits.clear();
        std::error_code ignored;
        fs::remove_all(packageFolder(), ignored);
        fs::remove(settingsFile(), ignored);
    }

    // Polls cond for up to five seconds; true when it came true.
    template <typename Cond>
    static bool waitWhile(Cond cond) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (cond()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    std::string base() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    fs::path dataFolder() const { return m_root / "appdata" / "Lumora Video" / "Orvix"; }
    fs::path packageFolder() const { return dataFolder() / "OvUpdate"; }
    fs::path settingsFile() const { return dataFolder() / "OvUpdate.ini"; }
    // A package's save path as the agent writes it.
    std::string savePath(const std::string& name) const { return agentPath(packageFolder() / name); }

    // A version-information document offering package name (served under /pkg/name).
    std::string offerDocument(const std::string& name, const std::string& package, const std::string& extra = "") {
        return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<update>\n  <exeupdate version=\"3.2.0.1\" md5=\"" +
               md5OfBuffer(package.data(), package.size()) + "\" url=\"" + base() + "/pkg/" + name +
               "\" verinfo=\"新版本 fixes\" filename=\"" + name + "\"" + extra + "/>\n</update>\n";
    }

private:
    struct Answer {
        int status = 404;
        std::string body;
    };

    // The data folder, the pipe's runtime folder and the server list of the whole program
    // live in a temporary folder.
    ChannelWorld() {
        std::string pattern = (fs::temp_directory_path() / "ovchannel-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        m_root = pattern;
        fs::create_directories(dataFolder());
        fs::create_directories(m_root / "run");
        setenv("APPDATA", (m_root / "appdata").string().c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (m_root / "run").string().c_str(), 1);
        setenv("OVUPDATE_REGISTRY", (m_root / "registry.reg").string().c_str(), 1);
        setenv("OVUPDATE_DEPLOY", (m_root / "deploy.ini").string().c_str(), 1);
        m_server.Get(".*", [this](const httplib::Request& req, httplib::Response& res) { answer(req, res); });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        writeFile(m_root / "deploy.ini", "[servers]\r\ndomain1=" + base() + "\r\n");
    }
    ~ChannelWorld() {
        releasePackages();
        m_server.stop();
        m_thread.join();
        if (!std::getenv("OV_KEEP_SANDBOX")) {
            unsetenv("APPDATA");
            std::error_code ignored;
            fs::remove_all(m_root, ignored);
        }
    }

    void answer(const httplib::Request& req, httplib::Response& res) {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_hits[req.path];
        if (req.path.rfind("/pkg/", 0) == 0)
            m_released.wait_for(lock, std::chrono::seconds(5), [this] { return !m_held; });
        auto found = m_files.find(req.path);
        Answer a = found == m_files.end() ? Answer{} : found->second;
        lock.unlock();
        res.status = a.status;
        res.set_content(a.body, "application/octet-stream");
    }

    fs::path m_root;
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_held = false;
    std::map<std::string, Answer> m_files;
    std::map<std::string, int> m_hits;
};
