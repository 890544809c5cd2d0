// The signature check of a fetched document, where the deployment asks for signed
// documents: the signature is fetched from the document's own URL with ".minisig" appended,
// over a transfer of the document's own policy, and the document's exact bytes are checked
// against it.
#pragma once
#include <string>

#include "fetch/transfer.h"

namespace fetch {

// Empty when the deployment needs no signatures or the document's is accepted; else why
// it is refused, for the caller's log line (signing::refusalLine).
std::u16string signatureRefusal(const std::u16string& url, const std::string& body,
                                const TransferPolicy& policy = TransferPolicy());

// signatureRefusal with the agent's own policy, a refusal logged once with the URL and the
// reason. Its caller treats a refused document as not retrieved.
bool documentAccepted(const std::u16string& url, const std::string& body);

}  // namespace fetch
