#include "tools/player/initiative_update.h"

#include <cstdlib>
#include "platform/clock.h"
#include "text/text.h"

namespace {

bool startsWith(const std::u16string& s, const std::u16string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// "TOTAL*RECEIVED" with six decimals each.
void printProgress(const std::u16string& reply, std::string& last, std::ostream& out) {
    if (reply == text::fromUtf8(last)) return;
    last = text::toUtf8(reply);
    size_t star = last.find('*');
    if (star == std::string::npos) return;
    double total = std::strtod(last.c_str(), nullptr);
    double received = std::strtod(last.c_str() + star + 1, nullptr);
    out << "progress: " << static_cast<long long>(received) << " of " << static_cast<long long>(total) << " bytes";
    if (total > 0) out << " (" << static_cast<int>(100 * received / total) << "%)";
    out << std::endl;
}

// Polls progress and readiness until the agent reports the verified package or a failure.
int waitForPackage(PipeClient& client, const InitiativeOptions& options, std::u16string& path, std::ostream& out) {
    std::string lastProgress;
    uint64_t deadline = plat::clock().monotonicMs() + options.timeoutMs;
    for (;;) {
        std::u16string progress, state;
        if (!client.request(u"downloadprogress", progress) || !client.request(u"downloadsuccess", state))
            return kPipeFailed;
        printProgress(progress, lastProgress, out);
        if (packagePathOf(state, path)) return kPackageReady;
        if (startsWith(state, u"failed")) {
            out << "download failed: " << text::toUtf8(state) << std::endl;
            return kDownloadFailed;
        }
        if (plat::clock().monotonicMs() >= deadline) {
            out << "download timed out: " << text::toUtf8(state) << std::endl;
            return kTimedOut;
        }
        plat::clock().sleepMs(options.pollMs);
    }
}

int exchange(PipeClient& client, const InitiativeOptions& options, std::ostream& out) {
    std::u16string offer, started, path;
    if (!client.request(u"requestxml", offer)) return kPipeFailed;
    out << "offer: " << text::toUtf8(offer) << std::endl;
    if (!startsWith(offer, u"update:")) return kNoOffer;

    if (!client.request(u"downloadsetup", started)) return kPipeFailed;
    out << "download: " << text::toUtf8(started) << std::endl;
    int status = kPackageReady;
    if (!packagePathOf(started, path)) {
        if (started != u"downloadstart") return kDownloadFailed;
        status = waitForPackage(client, options, path, out);
    }
    if (status == kPackageReady) out << "package: " << text::toUtf8(path) << std::endl;
    return status;
}

}  // namespace

bool packagePathOf(const std::u16string& reply, std::u16string& path) {
    if (!startsWith(reply, u"ok*")) return false;
    path = reply.substr(3);
    if (!path.empty() && path.back() == u'*') path.pop_back();
    return !path.empty();
}

int runInitiativeUpdate(PipeClient& client, const InitiativeOptions& options, std::ostream& out) {
    int status = exchange(client, options, out);
    if (status == kPipeFailed) {
        out << "pipe closed by the agent" << std::endl;
        return status;
    }
    // The player ends the conversation whatever happened, as the real one does.
    if (client.send(options.closeWord)) out << "sent: " << text::toUtf8(options.closeWord) << std::endl;
    return status;
}
