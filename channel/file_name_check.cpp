#include "channel/file_name_check.h"

namespace channel {

bool isPlainFileName(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    for (char16_t c : name) {
        if (c == u'\\' || c == u'/' || c == u':' || c < 0x20) return false;
    }
    return true;
}

}  // namespace channel
