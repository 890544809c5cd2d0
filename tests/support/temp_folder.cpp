#include "support/temp_folder.h"

#include <chrono>
#include <cstdlib>
#include <random>

#include "text/text.h"
#include "support/file_io.h"

namespace testsupport {

std::u16string agentPath(const fs::path& path) {
    std::u16string p = text::fromUtf8(path.u8string());
    for (auto& c : p)
        if (c == u'/') c = u'\\';
    return p;
}

TempFolder::TempFolder() {
    // The clock joins the random seed: some C libraries give every process the same sequence.
    static std::mt19937 random{std::random_device{}() ^
                               static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
    for (int attempt = 0; attempt < 100 && m_root.empty(); ++attempt) {
        fs::path candidate = fs::temp_directory_path() / ("ovtest-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) m_root = candidate;
    }
    if (m_root.empty()) std::abort();  // no test can run without its folder
}

TempFolder::~TempFolder() {
    if (std::getenv("OV_KEEP_SANDBOX")) return;
    std::error_code ignored;  // whatever a test left behind, a destructor must not throw
    fs::permissions(m_root, fs::perms::owner_all, ignored);
    fs::remove_all(m_root, ignored);
}

fs::path TempFolder::at(const std::string& relative) const {
    return relative.empty() ? m_root : m_root / fs::u8path(relative);
}

std::string TempFolder::native(const std::string& relative) const { return at(relative).u8string(); }

std::u16string TempFolder::agentPath(const std::string& relative) const {
    return testsupport::agentPath(at(relative));
}

void TempFolder::write(const std::string& relative, const std::string& bytes) const {
    writeFile(at(relative), bytes);
}

std::string TempFolder::read(const std::string& relative) const { return readFile(at(relative)); }

}  // namespace testsupport
