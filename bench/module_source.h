// A module source for benchmarks: N one-file archives of KiB each with their update.xml,
// and the installed files they replace. Shared by the module-update benchmarks.
#pragma once
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "app/md5.h"

namespace benchsource {

namespace fs = std::filesystem;

inline std::string moduleName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "m%05d.dll", i);
    return name;
}

// Content that deflates to about 60%, as program files do.
inline std::string content(size_t bytes, uint32_t seed) {
    std::mt19937 random(seed);
    std::string data(bytes, '\0');
    for (size_t i = 0; i < bytes; ++i) data[i] = (i % 5 < 3) ? static_cast<char>(random()) : 'x';
    return data;
}

inline void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeArchive(const fs::path& archive, const std::string& entry, const std::string& data) {
    zipFile zf = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
    zip_fileinfo info{};
    zipOpenNewFileInZip64(zf, entry.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                          Z_DEFAULT_COMPRESSION, 0);
    zipWriteInFileInZip(zf, data.data(), static_cast<unsigned>(data.size()));
    zipCloseFileInZip(zf);
    zipClose(zf, nullptr);
}

// source/<count>x<kib>/ holds update.xml and bin/<module>.zip; old/<count>x<kib>/ the
// installed files they replace.
inline std::string prepareSource(const fs::path& scratch, int count, int kib) {
    std::string set = std::to_string(count) + "x" + std::to_string(kib);
    fs::path source = scratch / "source" / set, old = scratch / "old" / set;
    if (fs::exists(source / "update.xml")) return set;
    fs::create_directories(source / "bin");
    fs::create_directories(old);
    std::string list = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root>\r\n";
    for (int i = 0; i < count; ++i) {
        std::string name = moduleName(i),
                    data = content(static_cast<size_t>(kib) * 1024, static_cast<uint32_t>(i));
        writeArchive(source / "bin" / (name + ".zip"), name, data);
        writeFile(old / name, content(static_cast<size_t>(kib) * 1024, static_cast<uint32_t>(i + count)));
        std::string zipped = readFile(source / "bin" / (name + ".zip"));
        list += "  <File md5=\"" + app::md5OfBuffer(data.data(), data.size()) + "\" zipmd5=\"" +
                app::md5OfBuffer(zipped.data(), zipped.size()) + "\">" + name + "</File>\r\n";
    }
    writeFile(source / "update.xml", list + "</root>\r\n");
    return set;
}

}  // namespace benchsource
