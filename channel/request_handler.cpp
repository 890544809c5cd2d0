#include "channel/request_handler.h"

#include "app/host_probes.h"
#include "app/log.h"
#include "app/digest_check.h"
#include "app/signed_document.h"
#include "channel/offer.h"
#include "fetch/setup_download.h"
#include "fetch/signed_fetch.h"
#include "fetch/transfer.h"
#include "text/text.h"
#include "platform/thread.h"

namespace channel {
namespace {

constexpr char16_t kRequestXml[] = u"requestxml";
constexpr char16_t kDownloadSetup[] = u"downloadsetup";
constexpr char16_t kDownloadProgress[] = u"downloadprogress";
constexpr char16_t kDownloadSuccess[] = u"downloadsuccess";
constexpr char16_t kDownloadStart[] = u"downloadstart";
constexpr char16_t kDownloadFailed[] = u"downloadfailed";

void fetchOffer(Offer& offer) {
    fetch::TransferRequest request;
    request.url = offerDocumentUrl();
    if (!fetch::performTransfer(request) || !fetch::documentAccepted(request.url, request.responseBody)) return;
    std::u16string document = text::fromUtf8(request.responseBody);
    bool signedOffer = app::signing::required();
    Offer read = offer;
    if (!readOffer(document, read, signedOffer)) {
        LOG(u"parser xml failed:%s", document);
        return;
    }
    // A replayed offer must not take the player back to an older release.
    std::u16string installed = signedOffer ? app::installedPlayerVersion() : std::u16string();
    if (!installed.empty() && app::compareVersions(installed, read.version) == 1) {
        LOG(u"installed version %s is newer than %s offered by %s: downgrade refused", installed, read.version,
            read.filename);
        return;
    }
    offer = read;
}

bool packageVerified(const Offer& offer) {
    if (!app::fileExists(offer.savePath)) return false;
    // Without sharing: a package another process still writes is not yet the offered one.
    app::DigestCheck check{offer.md5, offer.sha256, plat::OpenMode::ReadExclusive};
    return app::checkDigests(offer.savePath, check).matches();
}

std::u16string requestXml() {
    Offer& offer = offerRecord();
    // Fetched until a document gave release notes; from then on the offer stays.
    if (offer.verinfo.empty()) fetchOffer(offer);
    if (offer.filename.empty() || offer.version.empty() || offer.md5.empty() || offer.verinfo.empty()) return {};
    return text::format(u"update:%s**%s**%s**%s", offer.filename, offer.version, offer.md5, offer.verinfo);
}

std::u16string downloadSetup() {
    const Offer& offer = offerRecord();
    // Every download writes the same file, so one runs at a time; asking again while it
    // runs is answered as if it had just started. The marker is read before the package
    // is opened: the digest check holds the file without sharing, and the running
    // download's final move onto it would fail (on Windows) when the two meet.
    fetch::SetupDownloadState& download = fetch::setupDownload();
    if (download.running) return text::format(u"%s", kDownloadStart);
    if (packageVerified(offer)) return text::format(u"ok*%s*", offer.savePath);
    // No worker runs, so none reads these while they change.
    download.url = offer.setupUrl;
    download.savePath = offer.savePath;
    download.running = true;
    if (!plat::startThread(fetch::setupDownloadWorker)) {
        download.running = false;
        return text::format(u"%s", kDownloadFailed);
    }
    return text::format(u"%s", kDownloadStart);
}

std::u16string downloadProgress() {
    const fetch::SetupDownloadState& download = fetch::setupDownload();
    return text::format(u"%lf*%lf", download.progressTotal.load(), download.progressNow.load());
}

std::u16string downloadSuccess() {
    const Offer& offer = offerRecord();
    const fetch::SetupDownloadState& download = fetch::setupDownload();
    // The worker stores its result before it clears the marker: reading the marker first
    // means a finished download is never taken for a failed one.
    bool running = download.running;
    std::u16string state;
    // While a download runs the package is not opened: the digest check holds the file
    // without sharing, and the download's final move onto it would fail (on Windows)
    // when the two meet. The result of an earlier download says nothing about it yet.
    if (running) state = u"wait";
    else if (download.result) state = packageVerified(offer) ? u"ok" : u"wait";
    else state = u"failed";
    return text::format(u"%s*%s", state, offer.savePath);
}

std::u16string answer(const std::u16string& request) {
    if (request == kRequestXml) return requestXml();
    if (request == kDownloadSetup) return downloadSetup();
    if (request == kDownloadProgress) return downloadProgress();
    if (request == kDownloadSuccess) return downloadSuccess();
    return {};
}

}  // namespace

std::u16string handleRequest(const std::u16string& request) {
    std::u16string reply = answer(request);
    if (reply.size() >= kReplyChars) reply.resize(kReplyChars - 1);
    LOG(u"request:%s, response:%s", request, reply);
    return reply;
}

}  // namespace channel
