#include "tools/publish/zip_writer.h"

#include <zip.h>

#include <ctime>

#include "platform/files.h"

namespace publish {
namespace {

// Extended timestamp field: header id 0x5455, five bytes, flag "modification time" and
// the time in seconds since 1970, little-endian.
std::string unixTimeField(int64_t modified) {
    std::string field = {'\x55', '\x54', '\x05', '\x00', '\x01'};
    uint32_t seconds = static_cast<uint32_t>(modified);
    for (int i = 0; i < 4; ++i) field += static_cast<char>((seconds >> (8 * i)) & 0xFF);
    return field;
}

zip_fileinfo dosTime(int64_t modified) {
    zip_fileinfo info{};
    std::time_t t = static_cast<std::time_t>(modified);
    const std::tm* found = std::localtime(&t);  // the tool writes archives on one thread
    std::tm local = found ? *found : std::tm{};
    info.tmz_date.tm_year = static_cast<unsigned>(local.tm_year + 1900);
    info.tmz_date.tm_mon = static_cast<unsigned>(local.tm_mon);
    info.tmz_date.tm_mday = static_cast<unsigned>(local.tm_mday);
    info.tmz_date.tm_hour = static_cast<unsigned>(local.tm_hour);
    info.tmz_date.tm_min = static_cast<unsigned>(local.tm_min);
    info.tmz_date.tm_sec = static_cast<unsigned>(local.tm_sec);
    return info;
}

}  // namespace

bool writeOneFileZip(const fs::path& archive, const std::string& entryName, const std::string& data,
                     int64_t modified) {
    std::error_code ec;
    fs::create_directories(archive.parent_path(), ec);
    fs::path scratch = archive;
    scratch += ".part";
    zipFile zf = zipOpen64(plat::nativePath(agentPath(scratch)).c_str(), APPEND_STATUS_CREATE);
    if (!zf) return false;
    zip_fileinfo info = dosTime(modified);
    std::string extra = unixTimeField(modified);
    auto extraSize = static_cast<uInt>(extra.size());
    bool ok = zipOpenNewFileInZip64(zf, entryName.c_str(), &info, extra.data(), extraSize, extra.data(), extraSize,
                                    nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 1) == ZIP_OK;
    for (size_t at = 0; ok && at < data.size(); at += 1u << 20) {
        size_t n = std::min<size_t>(data.size() - at, 1u << 20);
        ok = zipWriteInFileInZip(zf, data.data() + at, static_cast<unsigned>(n)) == ZIP_OK;
    }
    ok = zipCloseFileInZip(zf) == ZIP_OK && ok;
    ok = zipClose(zf, nullptr) == ZIP_OK && ok;
    if (ok) fs::rename(scratch, archive, ec);
    if (!ok || ec) fs::remove(scratch, ec);
    return ok && !ec;
}

}  // namespace publish
