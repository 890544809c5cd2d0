// What verify checks of a document's ".minisig", with the agent's own signature code: with
// a public key, the judgement the agent makes (the key's prehashed signature over the exact
// bytes, the trusted comment naming the document's path in the tree and carrying a
// timestamp neither in the future nor older than the age limit); without one, that the
// signature reads as minisign's and its comment names the document.
#pragma once
#include <cstdint>
#include <string>

#include "app/minisign.h"
#include "tools/publish/files.h"

namespace publish {

// A minisign.pub file (comment line, key line) or a bare key line.
bool loadPublicKey(const fs::path& path, app::minisign::PublicKey& key, std::string& error);

struct SignatureCheck {
    const app::minisign::PublicKey* key = nullptr;
    int maxAgeDays = 30;
    uint64_t now = 0;  // seconds since 1970
};

// False with the reason in why; timestamp is the signature's when it could be read.
bool checkSignature(const std::string& bytes, const std::string& treePath, const fs::path& signature,
                    const SignatureCheck& check, std::string& why, uint64_t& timestamp);

}  // namespace publish
