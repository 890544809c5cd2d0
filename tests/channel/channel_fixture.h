// One host sandbox and one local server for the whole test program: the agent reads its
// data folder and its server list once per process, so every test shares them and starts
// from a cleared channel state.
#pragma once
#include <filesystem>
#include <string>

#include "app/md5.h"
#include "channel/offer.h"
#include "fetch/setup_download.h"
#include "text/text.h"
#include "support/file_io.h"
#include "support/host_sandbox.h"
#include "support/http_server.h"
#include "support/poll.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::waitUntil;
using testsupport::writeFile;

class ChannelWorld {
public:
    static ChannelWorld& get() {
        static ChannelWorld world;
        return world;
    }

    // Back to a fresh process: no offer, no download, nothing served, no package on disk.
    void reset() {
        server.clear();
        waitUntil([] { return !fetch::setupDownload().running.load(); });
        channel::offerRecord() = channel::Offer{};
        fetch::SetupDownloadState& download = fetch::setupDownload();
        download.url.clear();
        download.savePath.clear();
        download.result = false;
        download.progressTotal = 0;
        download.progressNow = 0;
        std::error_code ignored;
        fs::remove_all(packageFolder(), ignored);
        fs::remove(settingsFile(), ignored);
    }

    fs::path packageFolder() const { return host.dataFolder() / "OvUpdate"; }
    fs::path settingsFile() const { return host.dataFolder() / "OvUpdate.ini"; }
    // A package's save path as the agent writes it.
    std::string savePath(const std::string& name) const {
        return text::toUtf8(testsupport::agentPath(packageFolder() / name));
    }

    // A version-information document offering package name (served under /pkg/name).
    std::string offerDocument(const std::string& name, const std::string& package, const std::string& extra = "") {
        return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<update>\n  <exeupdate version=\"3.2.0.1\" md5=\"" +
               app::md5OfBuffer(package.data(), package.size()) + "\" url=\"" + server.url("/pkg/" + name) +
               "\" verinfo=\"新版本 fixes\" filename=\"" + name + "\"" + extra + "/>\n</update>\n";
    }

    testsupport::HostSandbox host;
    testsupport::HttpServer server;

private:
    ChannelWorld() {
        fs::create_directories(host.dataFolder());
        host.setServers(server.base());
    }
};
