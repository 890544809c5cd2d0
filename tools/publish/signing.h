// Signing with a minisign secret key: the signature file minisign itself writes, so that
// "minisign -Vm FILE -p KEY.pub" and the agent accept it. The file's BLAKE2b-512 digest is
// signed (minisign's prehashed "ED" form) and a global signature covers the signature
// together with the trusted comment "timestamp:<seconds>\tfile:<name>\thashed".
#pragma once
#include <cstdint>
#include <string>

#include "tools/publish/files.h"

namespace publish {

struct SecretKey {
    unsigned char keyId[8];
    unsigned char secret[64];  // Ed25519 seed followed by the public key
};

// A key file made by "minisign -G -W" (no password). False with a one-line reason.
bool loadSecretKey(const fs::path& path, SecretKey& key, std::string& error);

// The text of the ".minisig" file for bytes published under fileName.
std::string signatureText(const std::string& bytes, const std::string& fileName, const SecretKey& key,
                          int64_t timestamp);

// Writes path + ".minisig", signed now under signedName: the file's path below the served
// tree's root ("modules/3.2/update.xml"), which the agent demands, or its bare name, which
// it takes for the documents of product/OvUpdate/ only.
bool signFile(const fs::path& path, const std::string& signedName, const SecretKey& key, std::string& error);

// After a document was rewritten: signs it with key, or, without one, removes the
// signature of its earlier text, which no longer matches.
bool sealDocument(const fs::path& path, const std::string& signedName, const SecretKey* key, std::string& error);

}  // namespace publish
