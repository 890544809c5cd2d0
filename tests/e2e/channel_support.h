// What the channel's end-to-end tests share: a local stand-in of the download domain that
// offers a package, and the player's end of the pipe driven from the test.
#pragma once
#include "app/md5.h"
#include "channel/pipe_messages.h"
#include "channel/pipe_server.h"
#include "e2e/e2e_fixture.h"
#include "platform/pipe.h"
#include "text/text.h"

namespace e2e {

// Serves the version-information document and its package. The package answer, and the
// background run's update document, can be held until release, so a test sees a download
// (or a background run) in progress for as long as it likes.
class OfferServer {
public:
    static constexpr char kPackageName[] = "OrvixSetup_3.2.0.1.exe";

    explicit OfferServer(size_t packageSize = 1 << 20) : m_package(packageSize, '\0') {
        for (size_t i = 0; i < packageSize; ++i) m_package[i] = static_cast<char>(i * 7 + i / 251);
        Reply document{
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<update>\r\n  <exeupdate version=\"3.2.0.1\" md5=\"" +
            packageMd5() + "\" url=\"" + base() + packagePath() + "\" verinfo=\"新版本：更快的启动\" filename=\"" +
            kPackageName + "\"/>\r\n</update>\r\n"};
        document.contentType = "text/xml";
        m_http.serve("/product/OvUpdate/OvUpdateInfo.xml", document);
        m_http.serve(packagePath(), Reply{m_package});
    }

    // Another offer document, and its signature at the same path + ".minisig".
    void serveOffer(const std::string& document, const std::string& signature) {
        m_http.serve("/product/OvUpdate/OvUpdateInfo.xml", Reply{document});
        m_http.serve("/product/OvUpdate/OvUpdateInfo.xml.minisig", Reply{signature});
    }

    std::string base() const { return m_http.base(); }
    const std::string& package() const { return m_package; }
    std::string packageMd5() const { return app::md5OfBuffer(m_package.data(), m_package.size()); }
    std::string offerReply() const {
        return "update:" + std::string(kPackageName) + "**3.2.0.1**" + packageMd5() + "**新版本：更快的启动";
    }

    void hold() {
        m_http.hold("/packages/");
        m_http.hold("/product/OvUpdate/OvUpdate.xml");
    }
    void release() { m_http.release(); }
    int hits(const std::string& path) const { return m_http.hits(path); }
    int packageHits() const { return hits(packagePath()); }

private:
    static std::string packagePath() { return std::string("/packages/") + kPackageName; }

    std::string m_package;
    HttpServer m_http;
};

// The player's end of the pipe, in the test process (which the sandbox points at its host).
class PlayerPipe {
public:
    explicit PlayerPipe(uint32_t waitMs = 5000) : m_pipe(plat::openPipe(channel::kPipeName, waitMs)) {}
    ~PlayerPipe() {
        if (m_pipe) plat::closePipe(m_pipe);
    }
    bool connected() const { return m_pipe != nullptr; }
    bool sendBytes(const std::string& bytes) {
        size_t written = 0;
        return m_pipe && plat::writePipeMessage(m_pipe, bytes.data(), bytes.size(), written, 5000);
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
inline void prepare(AgentSandbox& box, const OfferServer& server) {
    box.installPlayer();
    box.setPrintLog(1);
    box.setServers(server.base(), server.base());
}

inline std::string savedPackagePath(const AgentSandbox& box) {
    return windowsPath(box.dataFolder() / "OvUpdate" / OfferServer::kPackageName);
}

}  // namespace e2e
