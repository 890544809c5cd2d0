// What the channel's end-to-end tests share: a local stand-in of the download domain that
// offers a package, and the player's end of the pipe driven from the test.
#pragma once
#include <httplib.h>

#include <condition_variable>
#include <mutex>

#include "app/md5.h"
#include "channel/pipe_messages.h"
#include "channel/pipe_server.h"
#include "platform/pipe.h"
#include "platform/text.h"
#include "e2e/e2e.h"

namespace e2e {

// Serves the version-information document and its package. The package answer, and the
// background run's update document, can be held until release, so a test sees a download
// (or a background run) in progress for as long as it likes.
class OfferServer {
public:
    static constexpr char kPackageName[] = "OrvixSetup_3.2.0.1.exe";

    explicit OfferServer(size_t packageSize = 1 << 20) : m_package(packageSize, '\0') {
        for (size_t i = 0; i < packageSize; ++i) m_package[i] = static_cast<char>(i * 7 + i / 251);
        m_server.Get(".*", [this](const httplib::Request& req, httplib::Response& res) { answer(req, res); });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~OfferServer() {
        release();
        m_server.stop();
        m_thread.join();
    }

    std::string base() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    const std::string& package() const { return m_package; }
    std::string packageMd5() const { return md5OfBuffer(m_package.data(), m_package.size()); }
    std::string offerReply() const {
        return "update:" + std::string(kPackageName) + "**3.2.0.1**" + packageMd5() + "**新版本：更快的启动";
    }

    void hold() { setHeld(true); }
    void release() { setHeld(false); }
    int hits(const std::string& path) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_hits[path];
    }
    int packageHits() { return hits(std::string("/packages/") + kPackageName); }

private:
    void setHeld(bool held) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = held;
        m_changed.notify_all();
    }
    void answer(const httplib::Request& req, httplib::Response& res) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_hits[req.path];
            bool holdable = req.path.rfind("/packages/", 0) == 0 || req.path == "/product/OvUpdate/OvUpdate.xml";
            if (holdable) m_changed.wait_for(lock, std::chrono::seconds(20), [this] { return !m_held; });
        }
        if (req.path == "/product/OvUpdate/OvUpdateInfo.xml") {
            res.set_content("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<update>\r\n  <exeupdate version=\"3.2.0.1\" md5=\"" +
                                packageMd5() + "\" url=\"" + base() + "/packages/" + kPackageName +
                                "\" verinfo=\"新版本：更快的启动\" filename=\"" + kPackageName + "\"/>\r\n</update>\r\n",
                            "text/xml");
        } else if (req.path == std::string("/packages/") + kPackageName) {
            res.set_content(m_package, "application/octet-stream");
        } else {
            res.status = 404;
        }
    }

    std::string m_package;
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    std::map<std::string, int> m_hits;
};

// The player's end of the pipe, in the test process (the sandbox must be applied to it).
class PlayerPipe {
public:
    explicit PlayerPipe(uint32_t waitMs = 5000) : m_pipe(plat::openPipe(channel::kPipeName, waitMs)) {}
    ~PlayerPipe() {
        if (m_pipe) plat::closePipe(m_pipe);
    }
    bool connected() const { return m_pipe != nullptr; }
    bool sendBytes(const std::string& bytes) {
        size_t written = 0;
        return m_pipe && plat::writePipeMessage(m_pipe, bytes.data(), bytes.size(), written);
    }
    bool send(const std::string& word) { return sendBytes(channel::encodeMessage(text::fromUtf8(word))); }
    // The reply to word as UTF-8, or "<closed>" when the agent ended the connection.
    std::string ask(const std::string& word) { return send(word) ? reply() : "<closed>"; }
    std::string reply() {
        std::vector<char> buffer(8192);
        size_t n = 0;
        if (!plat::readPipeMessage(m_pipe, buffer.data(), buffer.size(), n)) return "<closed>";
        return text::toUtf8(channel::decodeMessage(buffer.data(), n));
    }
    // True once the agent has closed its end.
    bool closedByAgent() {
        char byte;
        size_t n = 0;
        return !plat::readPipeMessage(m_pipe, &byte, 1, n) && n == 0;
    }

private:
    plat::PipeHandle m_pipe;
};

// A sandbox with the player installed, logging on and the domains at server.
inline void prepare(HostSandbox& box, const OfferServer& server) {
    box.installPlayer();
    box.setPrintLog(1);
    box.pointServersAt(server.base());
    box.applyToThisProcess();
}

inline std::string savedPackagePath(const HostSandbox& box) {
    return windowsPath(box.dataFolder() / "OvUpdate" / OfferServer::kPackageName);
}

}  // namespace e2e
