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
#include <system_error>
#include <vector>

#include "app/file_digests.h"
#include "app/md5.h"

namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] =
    "usage: OvModuleSource FILES OUT\n"
    "  writes OUT/update.xml and OUT/bin/<module>.zip for every file below the folder FILES\n";

int fail(const std::string& message, bool withUsage) {
    std::fprintf(stderr, "OvModuleSource: %s\n%s", message.c_str(), withUsage ? kUsage : "");
    return 1;
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string md5(const std::string& bytes) { return md5OfBuffer(bytes.data(), bytes.size()); }
std::string sha256(const std::string& bytes) { return sha256OfBuffer(bytes.data(), bytes.size()); }

bool writeArchive(const fs::path& archive, const std::string& entryName, const std::string& data) {
    std::error_code error;
    fs::create_directories(archive.parent_path(), error);
    if (error) return false;
    zipFile zf = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
    if (!zf) return false;
    zip_fileinfo info{};
    bool ok = zipOpenNewFileInZip64(zf, entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                    Z_DEFAULT_COMPRESSION, 0) == ZIP_OK &&
              zipWriteInFileInZip(zf, data.data(), static_cast<unsigned>(data.size())) == ZIP_OK &&
              zipCloseFileInZip(zf) == ZIP_OK;
    return zipClose(zf, nullptr) == ZIP_OK && ok;
}

// The module files below the folder, relative to it and sorted; false when it cannot be read.
bool listModules(const fs::path& files, std::vector<fs::path>& modules, std::error_code& error) {
    for (fs::recursive_directory_iterator it(files, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file(error)) modules.push_back(it->path().lexically_relative(files));
    std::sort(modules.begin(), modules.end());
    return !error;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return fail(argc < 3 ? "FILES and OUT are needed" : "too many arguments", true);
    fs::path files = argv[1], out = argv[2];
    std::error_code error;
    if (!fs::is_directory(files, error)) return fail("no folder " + files.u8string(), true);
    std::vector<fs::path> modules;
    if (!listModules(files, modules, error))
        return fail("cannot read " + files.u8string() + ": " + error.message(), false);

    std::string list = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root>\r\n";
    for (const fs::path& relative : modules) {
        std::string data = readAll(files / relative);
        fs::path archive = out / "bin" / (relative.string() + ".zip");
        if (!writeArchive(archive, relative.filename().string(), data))
            return fail("cannot write " + archive.u8string(), false);
        std::string name = relative.string();
        std::replace(name.begin(), name.end(), '/', '\\');
        std::string zip = readAll(archive);
        list += "  <File md5=\"" + md5(data) + "\" zipmd5=\"" + md5(zip) + "\" sha256=\"" + sha256(data) +
                "\" zipsha256=\"" + sha256(zip) + "\">" + name + "</File>\r\n";
    }
    std::ofstream xml(out / "update.xml", std::ios::binary);
    xml << list << "</root>\r\n";
    xml.close();
    if (!xml) return fail("cannot write " + (out / "update.xml").u8string(), false);
    std::printf("%zu modules in %s\n", modules.size(), out.u8string().c_str());
    return 0;
}
