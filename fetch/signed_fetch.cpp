#include "fetch/signed_fetch.h"

#include "app/log.h"
#include "app/signed_document.h"
#include "fetch/transfer.h"

namespace fetch {

bool documentAccepted(const std::u16string& url, const std::string& body) {
    if (!signing::required()) return true;
    TransferRequest request;
    request.url = signing::signatureLocation(url);
    std::u16string reason = performTransfer(request)
                                ? signing::refusal(body, request.responseBody, url)
                                : std::u16string(signing::kNoSignature);
    if (reason.empty()) return true;
    LOG(signing::refusalLine(url, reason));
    return false;
}

}  // namespace fetch
