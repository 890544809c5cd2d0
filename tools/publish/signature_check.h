// What verify checks of a document's ".minisig": that its trusted comment names the
// document's file (a signed document cannot stand in for another) and, with a public key,
// that the signature is that key's over the document's bytes.
#pragma once
#include <string>

#include "tools/publish/files.h"

namespace publish {

struct PublicKey {
    std::string base64;  // the key line of a minisign.pub file
};

// A minisign.pub file (comment line, key line) or a bare key line.
bool loadPublicKey(const fs::path& path, PublicKey& key, std::string& error);

// False with the reason in why.
bool checkSignature(const std::string& bytes, const std::string& fileName, const fs::path& signature,
                    const PublicKey* key, std::string& why);

}  // namespace publish
