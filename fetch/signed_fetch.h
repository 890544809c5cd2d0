// The signature check of a fetched document, where the deployment asks for signed
// documents: the signature is fetched from the document's own URL with ".minisig" appended,
// over the same transfer, and the document's exact bytes are checked against it.
#pragma once
#include <string>

namespace fetch {

// True when the deployment needs no signatures or the document's is accepted. A refused
// document is logged once, with its URL and the reason; its caller treats it as not
// retrieved.
bool documentAccepted(const std::u16string& url, const std::string& body);

}  // namespace fetch
