// Files of a served tree as ovpublish handles them: whole-file bytes, the agent's path
// form, modification times and the digests the documents carry.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

namespace publish {

namespace fs = std::filesystem;

// The path as the agent's libraries take it: UTF-16 with "\" separators.
std::u16string agentPath(const fs::path& path);
fs::path fromUtf8Path(const std::string& utf8);
std::string utf8(const fs::path& path);

bool readBytes(const fs::path& path, std::string& bytes);
// Creates the missing folders; the file is replaced whole (written beside it, then renamed).
bool writeBytes(const fs::path& path, const std::string& bytes);

// Last-write time in seconds since 1970 (UTC); 0 when it cannot be read.
int64_t modifiedSeconds(const fs::path& path);

struct Digests {
    std::string md5;     // 32 lower-case hex digits
    std::string sha256;  // 64 lower-case hex digits
    std::string crc32;   // 8 lower-case hex digits
    uint64_t size = 0;
};
Digests digestsOf(const std::string& bytes);

// One line on standard error, "ovpublish: " + what; returns the exit code 1.
int fail(const std::string& what);

}  // namespace publish
