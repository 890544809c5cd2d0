// Fetching the update-information document from the servers with the retry schedule.
#include "app/log.h"
#include "decision/update_driver.h"
#include "fetch/domains.h"
#include "fetch/signed_fetch.h"
#include "fetch/transfer.h"
#include "platform/clock.h"

namespace decision {
namespace {

// Waits before each retry pass over all domains once the first pass has failed.
constexpr uint32_t kRetryWaitsMs[] = {60000, 300000, 600000};

}  // namespace

bool UpdateDriver::tryDocumentDomains(const std::u16string& serverPath, std::string& body) {
    return fetch::tryEachDomain(m_documentDomains, serverPath, [&](const std::u16string& url) {
        fetch::TransferRequest request;
        request.url = url;
        bool ok = fetch::performTransfer(request).ok();
        LOG(u"下载xml url = %s, 下载%s", request.url, ok ? u"成功" : u"失败");
        // A document whose signature is refused is one this domain did not give.
        if (!ok || !fetch::documentAccepted(request.url, request.responseBody)) return false;
        body = std::move(request.responseBody);
        return true;
    });
}

bool UpdateDriver::fetchUpdateDocument(const std::u16string& serverPath, std::string& body) {
    if (tryDocumentDomains(serverPath, body)) return true;
    LOG(u"由于下载xml失败，现在开始重试...");
    for (uint32_t waitMs : kRetryWaitsMs) {
        plat::clock().sleepMs(waitMs);
        if (tryDocumentDomains(serverPath, body)) return true;
    }
    return false;
}

}  // namespace decision
