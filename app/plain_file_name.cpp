#include "app/plain_file_name.h"

bool isPlainFileName(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    for (char16_t c : name) {
        if (c == u'\\' || c == u'/' || c == u':' || c < 0x20) return false;
    }
    return true;
}
