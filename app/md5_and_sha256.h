// MD5 and SHA-256 of one file in a single read of its bytes (none when the pass that wrote
// the unchanged file remembered both), for the checks that want both
// (a signed deployment names a package's or module's SHA-256 beside its MD5).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/files.h"

struct FileDigests {
    std::string md5;     // 32 lower-case hex digits
    std::string sha256;  // 64 lower-case hex digits
    uint64_t bytesRead = 0;
    bool readable = false;  // false: the file could not be opened or read to its end
};

// The file read once from its start with the given sharing, both digests fed from each
// read.
FileDigests fileDigests(const std::u16string& path, plat::OpenMode mode);
// Both digests of a file already open, read from its bytes (never a remembered pass).
FileDigests readFileDigests(plat::File& file);

std::string sha256OfBuffer(const void* data, size_t size);  // 64 lower-case hex digits

// 64 hex digits, either letter case.
bool isSha256Text(const std::u16string& text);
// Equal as hex digits (letter case ignored); an expected text that is not 64 hex digits never matches.
bool sha256Matches(const std::string& digest, const std::u16string& expected);
