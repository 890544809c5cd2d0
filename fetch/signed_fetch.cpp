#include "fetch/signed_fetch.h"

#include "app/log.h"
#include "app/signed_document.h"

namespace fetch {

std::u16string signatureRefusal(const std::u16string& url, const std::string& body, const TransferPolicy& policy) {
    if (!app::signing::required()) return {};
    TransferRequest request;
    request.url = app::signing::signatureLocation(url);
    request.policy = policy;
    return performTransfer(request) ? app::signing::refusal(body, request.responseBody, url)
                                    : std::u16string(app::signing::kNoSignature);
}

bool documentAccepted(const std::u16string& url, const std::string& body) {
    std::u16string reason = signatureRefusal(url, body);
    if (reason.empty()) return true;
    LOG(app::signing::refusalLine(url, reason));
    return false;
}

}  // namespace fetch
