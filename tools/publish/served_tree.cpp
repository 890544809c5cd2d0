#include "tools/publish/served_tree.h"

#include "app/signed_document.h"
#include "text/text.h"

namespace publish {
namespace {

const char* const kProductDocuments[] = {"OvUpdate.xml", "OvUpdate_Debug.xml", "OvUpdateInfo.xml",
                                         "OvUpdateInfo_Debug.xml", "upcfg.xml"};
constexpr char kModuleList[] = "update.xml";

}  // namespace

fs::path servedFile(const fs::path& root, const std::u16string& url) {
    // The agent knows a document by the same path.
    std::u16string relative = app::signing::documentPath(url);
    if (relative.empty()) return {};
    return (root / fromUtf8Path(text::toUtf8(relative))).lexically_normal();
}

std::string shown(const fs::path& root, const fs::path& path) {
    return path.lexically_normal().lexically_relative(root.lexically_normal()).generic_u8string();
}

std::string pathInTree(const fs::path& root, const fs::path& file) {
    std::string inside = shown(fs::absolute(root), fs::absolute(file));
    if (inside.empty() || inside == "." || inside.compare(0, 2, "..") == 0) return {};
    return inside;
}

std::vector<fs::path> treeDocuments(const fs::path& root) {
    std::vector<fs::path> documents;
    fs::path product = root / "product" / "OvUpdate";
    for (const char* name : kProductDocuments)
        if (fs::is_regular_file(product / name)) documents.push_back(product / name);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file() && it->path().filename() == kModuleList) documents.push_back(it->path());
    return documents;
}

}  // namespace publish
