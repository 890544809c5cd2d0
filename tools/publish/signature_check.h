// What verify checks of a document's ".minisig", with the agent's own signature code: with
// a public key, the judgement the agent makes (the key's signature over the exact bytes,
// the trusted comment naming the document's file and carrying a timestamp); without one,
// that the signature reads as minisign's and its verified-to-be comment names the file.
#pragma once
#include <string>

#include "app/minisign.h"
#include "tools/publish/files.h"

namespace publish {

// A minisign.pub file (comment line, key line) or a bare key line.
bool loadPublicKey(const fs::path& path, minisign::PublicKey& key, std::string& error);

// False with the reason in why.
bool checkSignature(const std::string& bytes, const std::string& fileName, const fs::path& signature,
                    const minisign::PublicKey* key, std::string& why);

}  // namespace publish
