// Zip archives made with minizip, as a module source serves them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct ZipEntry {
    std::string name;
    std::string data;
    bool deflate = true;
    int64_t unixMtime = -1;     // written as an extended-timestamp "UT" field when >= 0
    uint32_t externalAttr = 0;  // 0x10: a folder entry
    int64_t unixAtime = -1;     // also in the "UT" field, with a modification time, when >= 0
    int64_t unixCtime = -1;
};
std::string makeZip(const std::vector<ZipEntry>& entries);
// One entry declaring declaredSize bytes whose data inflates to realSize zero bytes.
std::string makeBombZip(const std::string& name, uint32_t declaredSize, uint32_t realSize);

}  // namespace testsupport
