// Unpacking of a module archive: a zip holding exactly one file (or one folder entry).
#include <unzip.h>

#include <cstring>
#include <ctime>
#include <vector>
#include "app/signed_document.h"
#include "app/streamed_digest.h"
#include "modules/module_updater.h"
#include "platform/files.h"
#include "text/text.h"

namespace modules {

namespace {

constexpr size_t kBlockBytes = 16384;
// No program file of the player comes near this; a larger entry is refused unread.
constexpr uint64_t kMaxEntryBytes = 1ull << 30;

// An entry name becomes a path under the target folder, so it must stay there: not
// absolute, no drive, no parent step.
bool isSafeEntryName(const std::u16string& name) {
    if (name.empty() || name[0] == u'\\' || name.find(u':') != std::u16string::npos) return false;
    for (const auto& part : text::split(name, u"\\"))
        if (part == u"..") return false;
    return true;
}

bool isDirectoryEntry(const unz_file_info64& info) {
    constexpr uLong kDosDirectory = 0x10;
    constexpr uLong kUnixTypeMask = 0170000, kUnixDirectory = 0040000;
    return (info.external_fa & kDosDirectory) != 0 || ((info.external_fa >> 16) & kUnixTypeMask) == kUnixDirectory;
}

// Creates each missing folder of relative path under base, outermost first.
void createFolders(const std::u16string& base, const std::u16string& relative) {
    std::u16string folder = base;
    for (const auto& part : text::split(relative, u"\\")) {
        if (part == u".") continue;
        folder += u"\\" + part;
        if (!plat::directoryExists(folder)) plat::createDirectory(folder);
    }
}

uint32_t readLe32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Times (Unix seconds) from the extended-timestamp extra field "UT": a flags byte, then
// the modification, access and creation times its bits 0, 1 and 2 announce, in that
// order. The central directory's copy carries the modification time alone.
struct ExtraTimes {
    bool modified = false, accessed = false, created = false;
    plat::FileTimes times;
};

ExtraTimes timesFromExtraField(const std::vector<unsigned char>& extra) {
    constexpr unsigned kTimestampId = 0x5455;
    ExtraTimes found;
    size_t pos = 0;
    while (pos + 4 <= extra.size()) {
        unsigned id = static_cast<unsigned>(extra[pos] | (extra[pos + 1] << 8));
        size_t size = static_cast<size_t>(extra[pos + 2] | (extra[pos + 3] << 8));
        const unsigned char* data = extra.data() + pos + 4;
        if (pos + 4 + size > extra.size()) return found;
        if (id == kTimestampId && size >= 1) {
            unsigned flags = data[0];
            size_t at = 1;
            auto take = [&](unsigned bit, bool& present, int64_t& value) {
                if (!(flags & bit) || at + 4 > size) return;
                value = static_cast<int32_t>(readLe32(data + at));
                present = true;
                at += 4;
            };
            take(1, found.modified, found.times.modified);
            take(2, found.accessed, found.times.accessed);
            take(4, found.created, found.times.created);
            return found;
        }
        pos += 4 + size;
    }
    return found;
}

// The entry's times: those its "UT" field carries (local header first), the DOS time of
// the entry for the others.
plat::FileTimes entryTimes(const std::vector<unsigned char>& localExtra,
                           const std::vector<unsigned char>& centralExtra, int64_t dosTime) {
    ExtraTimes local = timesFromExtraField(localExtra);
    ExtraTimes central = timesFromExtraField(centralExtra);
    plat::FileTimes times;
    times.modified = local.modified ? local.times.modified : central.modified ? central.times.modified : dosTime;
    times.accessed = local.accessed ? local.times.accessed : dosTime;
    times.created = local.created ? local.times.created : dosTime;
    return times;
}

// DOS date and time, taken as local time.
int64_t timeFromDos(const tm_unz& dos) {
    std::tm t{};
    t.tm_sec = static_cast<int>(dos.tm_sec);
    t.tm_min = static_cast<int>(dos.tm_min);
    t.tm_hour = static_cast<int>(dos.tm_hour);
    t.tm_mday = static_cast<int>(dos.tm_mday);
    t.tm_mon = static_cast<int>(dos.tm_mon);
    t.tm_year = static_cast<int>(dos.tm_year) - 1900;
    t.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&t));
}

// Inflates the current entry into path; true only when every byte arrived and the
// entry's CRC matched. Inflating stops at the declared size, so an entry that inflates
// beyond it ends in a CRC failure instead of filling the disk. The bytes are digested on
// their way to the file, and written names the file they went into.
bool inflateInto(unzFile zip, const std::u16string& path, uint64_t declaredSize,
                 std::vector<unsigned char>& localExtra, app::DigestPass& pass, plat::FileIdentity& written) {
    if (unzOpenCurrentFile(zip) != UNZ_OK) return false;
    int extraSize = unzGetLocalExtrafield(zip, nullptr, 0);
    if (extraSize > 0) {
        localExtra.resize(static_cast<size_t>(extraSize));
        if (unzGetLocalExtrafield(zip, localExtra.data(), static_cast<unsigned>(extraSize)) != extraSize)
            localExtra.clear();
    }
    auto file = plat::openFile(path, plat::OpenMode::WriteTruncate);
    bool ok = file != nullptr;
    std::vector<char> block(kBlockBytes);
    while (ok) {
        int n = unzReadCurrentFile(zip, block.data(), static_cast<unsigned>(block.size()));
        if (n == 0) break;
        if (n < 0 || !file->write(block.data(), static_cast<size_t>(n))) ok = false;
        if (n > 0) pass.update(block.data(), static_cast<size_t>(n));
    }
    if (unzCloseCurrentFile(zip) != UNZ_OK) ok = false;  // CRC mismatch
    ok = ok && pass.bytes() == declaredSize && file->flush();
    if (!ok || !file->identity(written)) written = plat::FileIdentity();  // nothing to vouch for
    file.reset();
    return ok;
}

}  // namespace

bool ModuleUpdater::UnZipOneFile(const std::u16string& targetDir, const std::u16string& archivePath) {
    unzFile zip = unzOpen64(plat::nativePath(archivePath).c_str());
    if (!zip) return false;
    struct Closer {
        unzFile zip;
        ~Closer() { unzClose(zip); }
    } closer{zip};

    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip, &global) != UNZ_OK || global.number_entry != 1) return false;
    unz_file_info64 info{};
    if (unzGoToFirstFile(zip) != UNZ_OK ||
        unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        return false;
    }
    std::vector<char> rawName(info.size_filename + 1, '\0');
    std::vector<unsigned char> centralExtra(info.size_file_extra);
    if (unzGetCurrentFileInfo64(zip, &info, rawName.data(), static_cast<uLong>(rawName.size()),
                                centralExtra.data(), static_cast<uLong>(centralExtra.size()), nullptr,
                                0) != UNZ_OK) {
        return false;
    }
    std::u16string name = text::fromAnsi(std::string(rawName.data(), info.size_filename));
    for (auto& c : name)
        if (c == u'/') c = u'\\';
    if (!isSafeEntryName(name)) return false;

    if (isDirectoryEntry(info)) {
        createFolders(targetDir, name);
        return true;
    }
    createFolders(targetDir, plat::parentFolder(name));
    if (info.uncompressed_size > kMaxEntryBytes) return false;

    std::u16string outPath = targetDir + u"\\" + name;
    std::vector<unsigned char> localExtra;
    app::DigestPass pass(app::signing::required());
    plat::FileIdentity written;
    if (!inflateInto(zip, outPath, info.uncompressed_size, localExtra, pass, written)) {
        plat::deleteFile(outPath);  // never leave a partial file under the module's name
        return false;
    }
    plat::setFileTimes(outPath, entryTimes(localExtra, centralExtra, timeFromDos(info.tmu_date)));
    // Setting the times changed the identity; the file is still the one just written.
    plat::FileIdentity stamped;
    if (written.fileId != 0 && plat::fileIdentity(outPath, stamped) && stamped.volume == written.volume &&
        stamped.fileId == written.fileId && stamped.size == written.size) {
        app::rememberDigests(stamped, pass.finish());
    }
    return true;
}

}  // namespace modules
