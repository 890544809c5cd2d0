#include "modules/module_paths.h"

#include <string_view>

#include "fetch/url_text.h"
#include "platform/files.h"
#include "platform/system.h"

namespace modules::paths {

std::u16string agentFolder() { return plat::parentFolder(plat::executablePath()); }

std::u16string baseFolder(const std::u16string& root) {
    return !root.empty() && plat::pathExists(root) ? root : agentFolder();
}

std::u16string oldFileFor(const std::u16string& playerFolder, const std::u16string& name) {
    static constexpr std::u16string_view kPlayerPrefix = u".\\Orvix";
    std::u16string stripped = name;
    for (size_t pos = stripped.find(kPlayerPrefix); pos != std::u16string::npos;
         pos = stripped.find(kPlayerPrefix, pos))
        stripped.erase(pos, kPlayerPrefix.size());
    return playerFolder + u"\\" + stripped;
}

bool staysInside(const std::u16string& path, const std::u16string& folder) {
    // A drive or stream separator past the folder would name another place on Windows.
    if (path.size() > folder.size() && path.find(u':', folder.size()) != std::u16string::npos) return false;
    if (!plat::isInsideFolder(path, folder, false)) return false;
    // Below the folder, a link or junction on the way would lead the path elsewhere
    // whatever its text says.
    std::u16string inside = plat::canonicalPath(path), top = plat::canonicalPath(folder);
    for (size_t end = inside.find(u'\\', top.size() + 1);; end = inside.find(u'\\', end + 1)) {
        if (plat::isLink(inside.substr(0, end))) return false;
        if (end == std::u16string::npos) return true;
    }
}

std::u16string archiveUrl(const std::u16string& sourceDir, const std::u16string& name) {
    std::u16string path = name;
    for (auto& c : path)
        if (c == u'\\') c = u'/';
    return fetch::canonicalUrl(sourceDir + u"/bin/" + path + u".zip");
}

std::u16string patchPlace(const std::u16string& name, const std::u16string& fromMd5) {
    std::u16string path = name;
    for (auto& c : path)
        if (c == u'\\') c = u'/';
    return u"bin/" + path + u"." + fromMd5 + u".patch";
}

std::u16string servedUrl(const std::u16string& sourceDir, const std::u16string& place) {
    return fetch::canonicalUrl(sourceDir + u"/" + place);
}

std::u16string workingFolder(const std::u16string& base) { return base + u"\\" + kWorkingFolder; }
std::u16string moduleListPath(const std::u16string& base) { return workingFolder(base) + u"\\" + kModuleList; }
std::u16string stagingFolder(const std::u16string& base) { return workingFolder(base) + u"\\" + kStagingFolder; }
std::u16string stagingListPath(const std::u16string& base) { return workingFolder(base) + u"/" + kStagingList; }

}  // namespace modules::paths
