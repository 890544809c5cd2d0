#include "support/file_io.h"

#include <fstream>
#include <sstream>
#include <utility>

namespace testsupport {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();  // one buffered copy, not a character at a time
    return std::move(bytes).str();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::error_code ignored;  // an existing folder is fine; a real failure shows at the write
    std::filesystem::create_directories(path.parent_path(), ignored);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace testsupport
