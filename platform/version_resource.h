// File version resources (VS_VERSIONINFO) of PE files.
#pragma once
#include <cstdint>
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

// Portable reader over the bytes of a PE file; used by the POSIX backend and by tests.
bool parsePeVersionResource(const std::string& peBytes, VersionResource& out);

}  // namespace plat
