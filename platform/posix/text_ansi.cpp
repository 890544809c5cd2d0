// The ANSI code page of this host is UTF-8; other Windows code pages go through iconv.
#include <iconv.h>
#include <cerrno>
#include "text/text.h"

namespace text {

namespace {

const char* iconvName(unsigned codePage) {
    static const struct {
        unsigned codePage;
        const char* name;
    } table[] = {
        {65001, "UTF-8"},      {1200, "UTF-16LE"},    {1201, "UTF-16BE"},    {12000, "UTF-32LE"},
        {12001, "UTF-32BE"},   {65000, "UTF-7"},      {936, "GBK"},          {54936, "GB18030"},
        {950, "BIG5"},         {932, "SHIFT_JIS"},    {20932, "EUC-JP"},     {51932, "EUC-JP"},
        {949, "CP949"},        {51949, "EUC-KR"},     {874, "CP874"},        {1250, "CP1250"},
        {1251, "CP1251"},      {1252, "CP1252"},      {1253, "CP1253"},      {1254, "CP1254"},
        {1255, "CP1255"},      {1256, "CP1256"},      {1257, "CP1257"},      {1258, "CP1258"},
        {20866, "KOI8-R"},     {21866, "KOI8-U"},     {20127, "ASCII"},      {28591, "ISO-8859-1"},
        {28592, "ISO-8859-2"}, {28595, "ISO-8859-5"}, {28597, "ISO-8859-7"}, {28605, "ISO-8859-15"},
        {437, "CP437"},        {850, "CP850"},        {866, "CP866"},
    };
    for (const auto& entry : table)
        if (entry.codePage == codePage) return entry.name;
    return nullptr;
}

}  // namespace

std::string toAnsi(std::u16string_view s) { return toUtf8(s); }
std::u16string fromAnsi(std::string_view s) { return fromUtf8(s); }

bool fromCodePage(std::string_view bytes, unsigned codePage, std::u16string& out) {
    out.clear();
    if (codePage == 65001) {
        out = fromUtf8(bytes);
        return true;
    }
    const char* name = iconvName(codePage);
    if (!name) return false;
    iconv_t cd = iconv_open("UTF-16LE", name);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string input(bytes);
    char* in = input.data();
    size_t inLeft = input.size();
    char buffer[8192];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        for (char* p = buffer; p + 1 < outPtr; p += 2)
            out +=
                static_cast<char16_t>(static_cast<unsigned char>(p[0]) | (static_cast<unsigned char>(p[1]) << 8));
        if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
        // An invalid or cut-off sequence: one replacement character, then go on after it.
        out += u'\xFFFD';
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return true;
}

}  // namespace text
