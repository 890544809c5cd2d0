#include "fetch/partial_file.h"

#include <mutex>
#include <set>
#include <vector>

#include "app/log.h"
#include "platform/files.h"
#include "platform/system.h"
#include "text/text.h"

namespace fetch {
namespace {

constexpr char16_t kPartialSuffix[] = u".partial";
constexpr char16_t kRecordSuffix[] = u".partial.rec";
constexpr size_t kMaxRecordBytes = 8 * 1024;
constexpr size_t kMaxValidatorBytes = 256;
constexpr int64_t kMaxPartialAgeSeconds = 7 * 24 * 3600;

std::mutex g_inUseLock;
std::set<std::u16string> g_inUse;  // targets, lower case

bool inUse(const std::u16string& target) {
    std::lock_guard<std::mutex> lock(g_inUseLock);
    return g_inUse.count(text::toLower(target)) != 0;
}

bool endsWith(const std::u16string& name, std::u16string_view suffix) {
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "<name>.<number>.part": the temporary file of a download that writes no partial.
bool isTempDownloadName(const std::u16string& name) {
    static constexpr std::u16string_view kSuffix = u".part";
    if (!endsWith(name, kSuffix)) return false;
    size_t end = name.size() - kSuffix.size(), start = end;
    while (start > 0 && name[start - 1] >= u'0' && name[start - 1] <= u'9') --start;
    return start < end && start > 1 && name[start - 1] == u'.';
}

bool parseCount(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// The target a partial or record file name belongs to; empty for other names.
std::u16string targetNameOf(const std::u16string& name) {
    for (std::u16string_view suffix : {std::u16string_view(kRecordSuffix), std::u16string_view(kPartialSuffix)})
        if (endsWith(name, suffix)) return name.substr(0, name.size() - suffix.size());
    return {};
}

void removeStale(const std::u16string& path) {
    if (plat::deleteFile(path)) LOG(u"delete stale partial download %s", path);
}

// The record in folder that may keep its partial: sound, its partial as long as it says
// and no longer than the whole, younger than a week; the newest of them. Empty when none.
std::u16string keptTarget(const std::u16string& folder, const std::vector<plat::DirEntry>& entries) {
    std::u16string best;
    int64_t bestAge = 0;
    for (const plat::DirEntry& e : entries) {
        if (e.isDirectory || !endsWith(e.name, kRecordSuffix)) continue;
        std::u16string target = folder + u"\\" + targetNameOf(e.name);
        PartialRecord record;
        uint64_t size = 0;
        int64_t age = 0;
        if (!readPartialRecord(target, record) || !plat::fileSize(partialPathOf(target), size) ||
            size < record.bytes || (record.expectedSize > 0 && size > record.expectedSize) ||
            !plat::fileAgeSeconds(partialPathOf(target), age) || age > kMaxPartialAgeSeconds)
            continue;
        if (best.empty() || age < bestAge) {
            best = target;
            bestAge = age;
        }
    }
    return best;
}

}  // namespace

std::u16string partialPathOf(const std::u16string& target) { return target + kPartialSuffix; }
std::u16string recordPathOf(const std::u16string& target) { return target + kRecordSuffix; }

bool validValidator(const std::string& validator) {
    if (validator.empty() || validator.size() > kMaxValidatorBytes) return false;
    for (char c : validator)
        if (c < 0x20 || c > 0x7e) return false;
    return true;
}

bool readPartialRecord(const std::u16string& target, PartialRecord& record) {
    uint64_t size = 0;
    std::string bytes;
    if (!plat::fileSize(recordPathOf(target), size) || size > kMaxRecordBytes ||
        !plat::readWholeFile(recordPathOf(target), bytes))
        return false;
    bool url = false, validator = false, expected = false, written = false;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        size_t eq = line.find('=');
        if (eq == std::string::npos) return false;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "url") url = !(record.url = text::fromUtf8(value)).empty();
        else if (key == "validator") validator = validValidator(record.validator = value);
        else if (key == "size") expected = parseCount(value, record.expectedSize);
        else if (key == "bytes") written = parseCount(value, record.bytes);
    }
    return url && validator && expected && written &&
           (record.expectedSize == 0 || record.bytes <= record.expectedSize);
}

bool writePartialRecord(const std::u16string& target, const PartialRecord& record) {
    if (!validValidator(record.validator)) return false;
    std::string text = "url=" + text::toUtf8(record.url) + "\nvalidator=" + record.validator +
                       "\nsize=" + std::to_string(record.expectedSize) + "\nbytes=" + std::to_string(record.bytes) +
                       "\n";
    if (text.size() > kMaxRecordBytes) return false;
    std::u16string path = recordPathOf(target), temp = path + u".new";
    if (!plat::writeWholeFile(temp, text) || !plat::moveFile(temp, path, true)) {
        LOG(u"write %s failed, error code: %d", path, plat::lastErrorCode());
        plat::deleteFile(temp);
        return false;
    }
    return true;
}

void discardPartial(const std::u16string& target) {
    plat::deleteFile(recordPathOf(target));
    plat::deleteFile(partialPathOf(target));
}

void notePartialInUse(const std::u16string& target, bool used) {
    std::lock_guard<std::mutex> lock(g_inUseLock);
    if (used) g_inUse.insert(text::toLower(target));
    else g_inUse.erase(text::toLower(target));
}

void tidyPartials(const std::u16string& folder) {
    std::vector<plat::DirEntry> entries;
    if (!plat::listDirectory(folder, entries)) return;
    std::u16string kept = keptTarget(folder, entries);
    for (const plat::DirEntry& e : entries) {
        if (e.isDirectory) continue;
        std::u16string target = targetNameOf(e.name);
        if (target.empty() && !isTempDownloadName(e.name) && !endsWith(e.name, u".partial.rec.new")) continue;
        if (!target.empty() && (text::toLower(folder + u"\\" + target) == text::toLower(kept) ||
                                inUse(folder + u"\\" + target)))
            continue;
        removeStale(folder + u"\\" + e.name);
    }
}

void keepOnlyPartialOf(const std::u16string& folder, const std::u16string& keepName) {
    std::vector<plat::DirEntry> entries;
    if (!plat::listDirectory(folder, entries)) return;
    for (const plat::DirEntry& e : entries) {
        std::u16string target = targetNameOf(e.name);
        if (e.isDirectory || target.empty() || inUse(folder + u"\\" + target)) continue;
        if (!keepName.empty() && text::toLower(target) == text::toLower(keepName)) continue;
        removeStale(folder + u"\\" + e.name);
    }
}

}  // namespace fetch
