#include "tools/publish/files.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "app/md5.h"
#include "app/sha256.h"

namespace publish {

std::u16string agentPath(const fs::path& path) {
    std::u16string p = path.u16string();
    for (char16_t& c : p)
        if (c == u'/') c = u'\\';
    return p;
}

fs::path fromUtf8Path(const std::string& utf8) { return fs::u8path(utf8); }

std::string utf8(const fs::path& path) { return path.u8string(); }

bool readBytes(const fs::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

bool writeBytes(const fs::path& path, const std::string& bytes) {
    std::error_code ec;
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    fs::path scratch = path;
    scratch += ".part";
    {
        std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
        if (!out || !out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return false;
    }
    fs::rename(scratch, path, ec);
    if (ec) fs::remove(scratch, ec);
    return !ec;
}

int64_t modifiedSeconds(const fs::path& path) {
#ifdef _WIN32
    struct _stat64 st;
    if (_wstat64(path.c_str(), &st) != 0) return 0;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 0;
#endif
    return static_cast<int64_t>(st.st_mtime);
}

Digests digestsOf(const std::string& bytes) {
    Digests d;
    d.md5 = app::md5OfBuffer(bytes.data(), bytes.size());
    d.sha256 = app::sha256OfBuffer(bytes.data(), bytes.size());
    uLong crc = crc32(0L, Z_NULL, 0);
    for (size_t at = 0; at < bytes.size(); at += 1u << 30) {
        size_t n = std::min<size_t>(bytes.size() - at, 1u << 30);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + at), static_cast<uInt>(n));
    }
    char crcText[9];
    std::snprintf(crcText, sizeof crcText, "%08lx", static_cast<unsigned long>(crc));
    d.crc32 = crcText;
    d.size = bytes.size();
    return d;
}

int fail(const std::string& what) {
    std::fprintf(stderr, "ovpublish: %s\n", what.c_str());
    return 1;
}

}  // namespace publish
