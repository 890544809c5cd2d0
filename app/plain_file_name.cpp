#include "app/plain_file_name.h"

#include <string>

namespace app {

namespace {

constexpr std::u16string_view kRefusedCharacters = u"\\/:<>\"|?*";

bool isDeviceName(std::u16string_view name) {
    // The device is named by what comes before the first dot, blanks at its end ignored.
    std::u16string stem(name.substr(0, name.find(u'.')));
    while (!stem.empty() && stem.back() == u' ') stem.pop_back();
    for (char16_t& c : stem)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL" || stem == u"CONIN$" ||
        stem == u"CONOUT$")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, u"COM") == 0 || stem.compare(0, 3, u"LPT") == 0) &&
           stem[3] >= u'1' && stem[3] <= u'9';
}

}  // namespace

bool isPlainFileName(std::u16string_view name) {
    if (name.empty() || name.find_first_not_of(u'.') == std::u16string_view::npos) return false;
    if (name.back() == u'.' || name.back() == u' ') return false;
    for (char16_t c : name) {
        if (c < 0x20 || kRefusedCharacters.find(c) != std::u16string_view::npos) return false;
    }
    return !isDeviceName(name);
}

}  // namespace app
