// OvModuleSource FILES OUT
//
// Writes the module source for every file below FILES: OUT/bin/<path>.zip (a zip holding
// that one file under its bare name) and OUT/update.xml listing each module by its path
// with "\" separators, the digests of the file ("md5", "sha256") and of its archive ("zipmd5",
// "zipsha256"; an agent whose deployment has no release key reads only the MD5s).
// A module "plugins\subtitle.dll" is served at bin/plugins/subtitle.dll.zip.
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/file_digests.h"
#include "app/md5.h"

namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string md5(const std::string& bytes) { return md5OfBuffer(bytes.data(), bytes.size()); }
std::string sha256(const std::string& bytes) { return sha256OfBuffer(bytes.data(), bytes.size()); }

bool writeArchive(const fs::path& archive, const std::string& entryName, const std::string& data) {
    fs::create_directories(archive.parent_path());
    zipFile zf = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
    if (!zf) return false;
    zip_fileinfo info{};
    bool ok = zipOpenNewFileInZip64(zf, entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                    Z_DEFAULT_COMPRESSION, 0) == ZIP_OK &&
              zipWriteInFileInZip(zf, data.data(), static_cast<unsigned>(data.size())) == ZIP_OK &&
              zipCloseFileInZip(zf) == ZIP_OK;
    return zipClose(zf, nullptr) == ZIP_OK && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: OvModuleSource FILES OUT\n");
        return 2;
    }
    fs::path files = argv[1], out = argv[2];
    std::vector<fs::path> modules;
    for (const auto& entry : fs::recursive_directory_iterator(files))
        if (entry.is_regular_file()) modules.push_back(fs::relative(entry.path(), files));
    std::sort(modules.begin(), modules.end());

    std::string list = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root>\r\n";
    for (const fs::path& relative : modules) {
        std::string data = readAll(files / relative);
        fs::path archive = out / "bin" / (relative.string() + ".zip");
        if (!writeArchive(archive, relative.filename().string(), data)) {
            std::fprintf(stderr, "OvModuleSource: cannot write %s\n", archive.u8string().c_str());
            return 1;
        }
        std::string name = relative.string();
        std::replace(name.begin(), name.end(), '/', '\\');
        std::string zip = readAll(archive);
        list += "  <File md5=\"" + md5(data) + "\" zipmd5=\"" + md5(zip) + "\" sha256=\"" + sha256(data) +
                "\" zipsha256=\"" + sha256(zip) + "\">" + name + "</File>\r\n";
    }
    std::ofstream(out / "update.xml", std::ios::binary) << list << "</root>\r\n";
    std::printf("%zu modules in %s\n", modules.size(), out.u8string().c_str());
    return 0;
}
