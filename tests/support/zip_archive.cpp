#include "support/zip_archive.h"

#include <zip.h>
#include <zlib.h>

#include <cstdlib>

#include "support/temp_folder.h"

namespace testsupport {

namespace {

std::string le(uint32_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

zip_fileinfo fixedDate(uint32_t externalAttr) {
    zip_fileinfo info{};
    info.tmz_date.tm_year = 2020;
    info.tmz_date.tm_mon = 0;  // January
    info.tmz_date.tm_mday = 2;
    info.tmz_date.tm_hour = 3;
    info.tmz_date.tm_min = 4;
    info.tmz_date.tm_sec = 6;
    info.external_fa = externalAttr;
    return info;
}

// minizip writes to a path: each archive is made in a scratch file and read back.
template <typename Fill>
std::string zipThrough(Fill fill) {
    testsupport::TempFolder scratch;
    zipFile zf = zipOpen64(scratch.native("a.zip").c_str(), APPEND_STATUS_CREATE);
    if (!zf) std::abort();
    fill(zf);
    zipClose(zf, nullptr);
    return scratch.read("a.zip");
}

}  // namespace

std::string makeZip(const std::vector<ZipEntry>& entries) {
    return zipThrough([&](zipFile zf) {
        for (const ZipEntry& e : entries) {
            zip_fileinfo info = fixedDate(e.externalAttr);
            // The local "UT" field carries every time given, the central one the
            // modification time alone (under the same flags).
            std::string local, central;
            if (e.unixMtime >= 0) {
                unsigned flags = 1 | (e.unixAtime >= 0 ? 2 : 0) | (e.unixCtime >= 0 ? 4 : 0);
                std::string times = le(static_cast<uint32_t>(e.unixMtime), 4);
                for (int64_t t : {e.unixAtime, e.unixCtime})
                    if (t >= 0) times += le(static_cast<uint32_t>(t), 4);
                local = "UT" + le(static_cast<uint32_t>(1 + times.size()), 2) + static_cast<char>(flags) + times;
                central = "UT" + le(5, 2) + static_cast<char>(flags) + times.substr(0, 4);
            }
            zipOpenNewFileInZip64(zf, e.name.c_str(), &info, local.data(), static_cast<uInt>(local.size()),
                                  central.data(), static_cast<uInt>(central.size()), nullptr,
                                  e.deflate ? Z_DEFLATED : 0, Z_DEFAULT_COMPRESSION, 0);
            zipWriteInFileInZip(zf, e.data.data(), static_cast<unsigned>(e.data.size()));
            zipCloseFileInZip(zf);
        }
    });
}

std::string makeBombZip(const std::string& name, uint32_t declaredSize, uint32_t realSize) {
    std::string zeros(1 << 20, '\0'), compressed;
    z_stream s{};
    deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    char out[1 << 16];
    uLong crc = crc32(0, nullptr, 0);
    for (uint64_t fed = 0; fed < realSize; fed += zeros.size()) {
        s.next_in = reinterpret_cast<Bytef*>(zeros.data());
        s.avail_in = static_cast<uInt>(zeros.size());
        crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
        int flush = fed + zeros.size() >= realSize ? Z_FINISH : Z_NO_FLUSH;
        do {
            s.next_out = reinterpret_cast<Bytef*>(out);
            s.avail_out = sizeof out;
            deflate(&s, flush);
            compressed.append(out, sizeof out - s.avail_out);
        } while (s.avail_out == 0);
    }
    deflateEnd(&s);
    return zipThrough([&](zipFile zf) {
        zip_fileinfo info = fixedDate(0);
        zipOpenNewFileInZip2(zf, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9, 1);
        zipWriteInFileInZip(zf, compressed.data(), static_cast<unsigned>(compressed.size()));
        zipCloseFileInZipRaw(zf, declaredSize, crc);
    });
}

}  // namespace testsupport
