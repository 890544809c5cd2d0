// File version resources (VS_VERSIONINFO) of PE files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace plat {

struct VersionResource {
    uint16_t fileVersion[4] = {0, 0, 0, 0};  // major, minor, build, revision
    uint16_t productVersion[4] = {0, 0, 0, 0};
    uint32_t fileFlags = 0, fileOS = 0, fileType = 0, fileSubtype = 0;
    std::u16string companyName, productName, fileDescription;
};

// False when the file has no version resource (or cannot be read).
bool readVersionResource(const std::u16string& path, VersionResource& out);

// Portable reader of a PE file's version resource. It reads the headers, the entries of
// the resource directory that lead to the version resource and that resource, nothing
// else: read(offset, length, bytes) fills bytes with that part of the file, shorter where
// the file ends, or fails. Used by the POSIX backend and by tests.
using PeReadAt = std::function<bool(uint64_t offset, size_t length, std::string& bytes)>;
bool parsePeVersionResource(const PeReadAt& read, VersionResource& out);
// The same over the bytes of a whole file in memory.
bool parsePeVersionResource(const std::string& peBytes, VersionResource& out);

}  // namespace plat
