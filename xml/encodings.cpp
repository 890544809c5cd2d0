#include "xml/encodings.h"

#include "xml/tag_attributes.h"

namespace xml {

namespace {

struct EncodingName {
    const char16_t* name;
    int codePage;
};

// The charset names of the IANA registry and the aliases Windows accepts, with the Windows
// code page identifiers.
// clang-format off
const EncodingName kEncodings[] = {
    // Unicode
    {u"utf-8", 65001}, {u"unicode-1-1-utf-8", 65001}, {u"unicode-2-0-utf-8", 65001},
    {u"x-unicode20utf8", 65001},
    {u"utf-7", 65000}, {u"unicode-1-1-utf-7", 65000}, {u"unicode-2-0-utf-7", 65000},
    {u"csunicode11utf7", 65000}, {u"x-unicode20utf7", 65000},
    {u"utf-16", 1200}, {u"utf-16le", 1200}, {u"unicode", 1200}, {u"ucs-2", 1200},
    {u"iso-10646-ucs-2", 1200}, {u"csunicode", 1200},
    {u"utf-16be", 1201}, {u"unicodefffe", 1201},
    {u"utf-32", 12000}, {u"utf-32le", 12000}, {u"utf-32be", 12001},
    // ASCII and ISO 8859
    {u"us-ascii", 20127}, {u"ascii", 20127}, {u"us", 20127}, {u"ansi_x3.4-1968", 20127},
    {u"ansi_x3.4-1986", 20127}, {u"cp367", 20127}, {u"csascii", 20127}, {u"ibm367", 20127},
    {u"iso-ir-6", 20127}, {u"iso646-us", 20127}, {u"iso_646.irv:1991", 20127},
    {u"iso-8859-1", 28591}, {u"iso8859-1", 28591}, {u"iso_8859-1", 28591},
    {u"iso_8859-1:1987", 28591}, {u"iso-ir-100", 28591}, {u"latin1", 28591}, {u"l1", 28591},
    {u"cp819", 28591}, {u"ibm819", 28591}, {u"csisolatin1", 28591},
    {u"iso-8859-2", 28592}, {u"iso8859-2", 28592}, {u"iso_8859-2", 28592},
    {u"iso_8859-2:1987", 28592}, {u"iso-ir-101", 28592}, {u"latin2", 28592}, {u"l2", 28592},
    {u"csisolatin2", 28592},
    {u"iso-8859-3", 28593}, {u"iso_8859-3", 28593}, {u"iso_8859-3:1988", 28593},
    {u"iso-ir-109", 28593}, {u"latin3", 28593}, {u"l3", 28593}, {u"csisolatin3", 28593},
    {u"iso-8859-4", 28594}, {u"iso_8859-4", 28594}, {u"iso_8859-4:1988", 28594},
    {u"iso-ir-110", 28594}, {u"latin4", 28594}, {u"l4", 28594}, {u"csisolatin4", 28594},
    {u"iso-8859-5", 28595}, {u"iso_8859-5", 28595}, {u"iso_8859-5:1988", 28595},
    {u"iso-ir-144", 28595}, {u"cyrillic", 28595}, {u"csisolatincyrillic", 28595},
    {u"iso-8859-6", 28596}, {u"iso_8859-6", 28596}, {u"iso_8859-6:1987", 28596},
    {u"iso-ir-127", 28596}, {u"arabic", 28596}, {u"ecma-114", 28596},
    {u"csisolatinarabic", 28596},
    {u"iso-8859-7", 28597}, {u"iso_8859-7", 28597}, {u"iso_8859-7:1987", 28597},
    {u"iso-ir-126", 28597}, {u"greek", 28597}, {u"greek8", 28597}, {u"ecma-118", 28597},
    {u"elot_928", 28597}, {u"csisolatingreek", 28597},
    {u"iso-8859-8", 28598}, {u"iso_8859-8", 28598}, {u"iso_8859-8:1988", 28598},
    {u"iso-ir-138", 28598}, {u"hebrew", 28598}, {u"visual", 28598},
    {u"iso-8859-8 visual", 28598}, {u"csisolatinhebrew", 28598},
    {u"iso-8859-8-i", 38598}, {u"logical", 38598},
    {u"iso-8859-9", 28599}, {u"iso_8859-9", 28599}, {u"iso_8859-9:1989", 28599},
    {u"iso-ir-148", 28599}, {u"latin5", 28599}, {u"l5", 28599}, {u"csisolatin5", 28599},
    {u"iso-8859-13", 28603},
    {u"iso-8859-15", 28605}, {u"iso_8859-15", 28605}, {u"latin-9", 28605}, {u"latin9", 28605},
    {u"l9", 28605}, {u"csisolatin9", 28605},
    // Windows
    {u"windows-1250", 1250}, {u"x-cp1250", 1250}, {u"cp1250", 1250},
    {u"windows-1251", 1251}, {u"x-cp1251", 1251}, {u"cp1251", 1251},
    {u"windows-1252", 1252}, {u"x-ansi", 1252}, {u"cp1252", 1252},
    {u"windows-1253", 1253}, {u"cp1253", 1253},
    {u"windows-1254", 1254}, {u"cp1254", 1254},
    {u"windows-1255", 1255}, {u"cp1255", 1255},
    {u"windows-1256", 1256}, {u"cp1256", 1256},
    {u"windows-1257", 1257}, {u"cp1257", 1257},
    {u"windows-1258", 1258}, {u"cp1258", 1258},
    {u"windows-874", 874}, {u"dos-874", 874}, {u"tis-620", 874}, {u"iso-8859-11", 874},
    // Chinese
    {u"gb2312", 936}, {u"gbk", 936}, {u"cp936", 936}, {u"ms936", 936}, {u"windows-936", 936},
    {u"csgb2312", 936}, {u"csgb231280", 936}, {u"csiso58gb231280", 936}, {u"gb2312-80", 936},
    {u"gb231280", 936}, {u"gb_2312-80", 936}, {u"iso-ir-58", 936}, {u"chinese", 936},
    {u"x-gbk", 936},
    {u"gb18030", 54936}, {u"hz-gb-2312", 52936}, {u"euc-cn", 51936}, {u"x-euc-cn", 51936},
    {u"big5", 950}, {u"cn-big5", 950}, {u"csbig5", 950}, {u"x-x-big5", 950},
    {u"big5-hkscs", 950}, {u"cp950", 950},
    {u"x-chinese-cns", 20000}, {u"x-chinese-eten", 20002},
    // Japanese
    {u"shift_jis", 932}, {u"shift-jis", 932}, {u"sjis", 932}, {u"x-sjis", 932},
    {u"ms_kanji", 932}, {u"csshiftjis", 932}, {u"cswindows31j", 932}, {u"windows-31j", 932},
    {u"cp932", 932},
    {u"euc-jp", 20932}, {u"x-euc-jp", 20932}, {u"x-euc", 20932},
    {u"cseucpkdfmtjapanese", 20932}, {u"extended_unix_code_packed_format_for_japanese", 20932},
    {u"iso-2022-jp", 50220}, {u"csiso2022jp", 50221},
    // Korean
    {u"ks_c_5601-1987", 949}, {u"ks_c_5601", 949}, {u"ks_c_5601-1989", 949},
    {u"ks_c_5601_1987", 949}, {u"ksc5601", 949}, {u"ksc_5601", 949}, {u"ks-c-5601", 949},
    {u"ks-c5601", 949}, {u"korean", 949}, {u"iso-ir-149", 949}, {u"csksc56011987", 949},
    {u"cp949", 949},
    {u"euc-kr", 51949}, {u"cseuckr", 51949}, {u"iso-2022-kr", 50225},
    {u"csiso2022kr", 50225}, {u"johab", 1361},
    // Cyrillic
    {u"koi8-r", 20866}, {u"koi8r", 20866}, {u"koi", 20866}, {u"koi8", 20866},
    {u"cskoi8r", 20866}, {u"koi8-u", 21866}, {u"koi8-ru", 21866},
    // DOS
    {u"ibm437", 437}, {u"cp437", 437}, {u"437", 437}, {u"cspc8codepage437", 437},
    {u"asmo-708", 708}, {u"dos-720", 720}, {u"ibm737", 737}, {u"ibm775", 775},
    {u"ibm850", 850}, {u"cp850", 850}, {u"ibm852", 852}, {u"cp852", 852},
    {u"ibm855", 855}, {u"cp855", 855}, {u"ibm857", 857}, {u"cp857", 857},
    {u"ibm00858", 858}, {u"ccsid00858", 858}, {u"cp00858", 858},
    {u"pc-multilingual-850+euro", 858},
    {u"ibm860", 860}, {u"cp860", 860}, {u"ibm861", 861}, {u"cp861", 861},
    {u"ibm862", 862}, {u"cp862", 862}, {u"dos-862", 862},
    {u"ibm863", 863}, {u"cp863", 863}, {u"ibm864", 864}, {u"cp864", 864},
    {u"ibm865", 865}, {u"cp865", 865}, {u"ibm866", 866}, {u"cp866", 866},
    {u"ibm869", 869}, {u"cp869", 869},
    // EBCDIC
    {u"ibm037", 37}, {u"cp037", 37}, {u"ebcdic-cp-us", 37}, {u"ebcdic-cp-ca", 37},
    {u"ebcdic-cp-wt", 37}, {u"ebcdic-cp-nl", 37}, {u"csibm037", 37},
    {u"ibm500", 500}, {u"cp500", 500}, {u"ebcdic-cp-be", 500}, {u"ebcdic-cp-ch", 500},
    {u"csibm500", 500},
    {u"ibm870", 870}, {u"cp870", 870}, {u"ebcdic-cp-roece", 870}, {u"ebcdic-cp-yu", 870},
    {u"csibm870", 870}, {u"cp875", 875},
    {u"ibm1026", 1026}, {u"cp1026", 1026}, {u"csibm1026", 1026}, {u"ibm01047", 1047},
    {u"ibm01140", 1140}, {u"ccsid01140", 1140}, {u"cp01140", 1140},
    {u"ebcdic-us-37+euro", 1140},
    {u"ibm01141", 1141}, {u"ibm01142", 1142}, {u"ibm01143", 1143}, {u"ibm01144", 1144},
    {u"ibm01145", 1145}, {u"ibm01146", 1146}, {u"ibm01147", 1147}, {u"ibm01148", 1148},
    {u"ibm01149", 1149},
    {u"ibm273", 20273}, {u"cp273", 20273}, {u"csibm273", 20273},
    {u"ibm277", 20277}, {u"ebcdic-cp-dk", 20277}, {u"ebcdic-cp-no", 20277},
    {u"ibm278", 20278}, {u"cp278", 20278}, {u"ebcdic-cp-fi", 20278}, {u"ebcdic-cp-se", 20278},
    {u"ibm280", 20280}, {u"cp280", 20280}, {u"ebcdic-cp-it", 20280},
    {u"ibm284", 20284}, {u"cp284", 20284}, {u"ebcdic-cp-es", 20284},
    {u"ibm285", 20285}, {u"cp285", 20285}, {u"ebcdic-cp-gb", 20285},
    {u"ibm290", 20290}, {u"cp290", 20290}, {u"ebcdic-jp-kana", 20290},
    {u"ibm297", 20297}, {u"cp297", 20297}, {u"ebcdic-cp-fr", 20297},
    {u"ibm420", 20420}, {u"cp420", 20420}, {u"ebcdic-cp-ar1", 20420},
    {u"ibm423", 20423}, {u"cp423", 20423}, {u"ebcdic-cp-gr", 20423},
    {u"ibm424", 20424}, {u"cp424", 20424}, {u"ebcdic-cp-he", 20424},
    {u"x-ebcdic-koreanextended", 20833}, {u"ibm-thai", 20838}, {u"csibmthai", 20838},
    {u"ibm871", 20871}, {u"cp871", 20871}, {u"ebcdic-cp-is", 20871},
    {u"ibm880", 20880}, {u"cp880", 20880}, {u"ebcdic-cyrillic", 20880},
    {u"ibm905", 20905}, {u"cp905", 20905}, {u"ebcdic-cp-tr", 20905},
    {u"ibm00924", 20924}, {u"ccsid00924", 20924}, {u"cp00924", 20924},
    {u"ebcdic-latin9--euro", 20924},
    // Macintosh
    {u"macintosh", 10000}, {u"x-mac-japanese", 10001}, {u"x-mac-chinesetrad", 10002},
    {u"x-mac-korean", 10003}, {u"x-mac-arabic", 10004}, {u"x-mac-hebrew", 10005},
    {u"x-mac-greek", 10006}, {u"x-mac-cyrillic", 10007}, {u"x-mac-chinesesimp", 10008},
    {u"x-mac-romanian", 10010}, {u"x-mac-ukrainian", 10017}, {u"x-mac-thai", 10021},
    {u"x-mac-ce", 10029}, {u"x-mac-icelandic", 10079}, {u"x-mac-turkish", 10081},
    {u"x-mac-croatian", 10082},
    // Others
    {u"x-ia5", 20105}, {u"x-ia5-german", 20106}, {u"german", 20106},
    {u"x-ia5-swedish", 20107}, {u"swedish", 20107}, {u"x-ia5-norwegian", 20108},
    {u"norwegian", 20108}, {u"x-europa", 29001},
    {u"x-cp20001", 20001}, {u"x-cp20003", 20003}, {u"x-cp20004", 20004},
    {u"x-cp20005", 20005}, {u"x-cp20261", 20261}, {u"x-cp20269", 20269},
    {u"x-cp20936", 20936}, {u"x-cp20949", 20949}, {u"x-cp50227", 50227}, {u"cp50227", 50227},
    {u"x-iscii-de", 57002}, {u"x-iscii-be", 57003}, {u"x-iscii-ta", 57004},
    {u"x-iscii-te", 57005}, {u"x-iscii-as", 57006}, {u"x-iscii-or", 57007},
    {u"x-iscii-ka", 57008}, {u"x-iscii-ma", 57009}, {u"x-iscii-gu", 57010},
    {u"x-iscii-pa", 57011},
};
// clang-format on

// Names longer than this are not looked up.
constexpr size_t kMaxNameLength = 100;

char16_t lowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool startsWithNoCase(std::u16string_view s, std::u16string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (lowerAscii(s[i]) != lowerAscii(prefix[i])) return false;
    return true;
}

size_t findNoCase(std::u16string_view s, std::u16string_view what, size_t from = 0) {
    for (size_t i = from; i + what.size() <= s.size(); ++i)
        if (startsWithNoCase(s.substr(i), what)) return i;
    return std::u16string_view::npos;
}

std::u16string_view attributeValue(std::u16string_view tag, std::u16string_view name, bool ignoreCase) {
    AttributeSpan span;
    if (!findAttribute(tag, name, ignoreCase, span)) return {};
    return tag.substr(span.valueBegin, span.valueEnd - span.valueBegin);
}

// "text/html; charset=gb2312" -> "gb2312"
std::u16string charsetOf(std::u16string_view content) {
    size_t pos = findNoCase(content, u"charset=");
    if (pos == std::u16string_view::npos) return {};
    pos += 8;
    size_t end = pos;
    while (end < content.size() && content[end] != u';' && content[end] != u'"' && content[end] != u'\'' &&
           !isSpace(content[end]))
        ++end;
    return std::u16string(content.substr(pos, end - pos));
}

}  // namespace

int codePageOf(std::u16string_view name) {
    if (name.empty()) return kAnsiCodePage;
    if (name.substr(0, 6) == u"UTF-32") return kUtf32CodePage;
    if (name.size() >= kMaxNameLength) return kUnknownCodePage;
    std::u16string lower(name);
    for (auto& c : lower) c = lowerAscii(c);
    for (const auto& e : kEncodings)
        if (lower == e.name) return e.codePage;
    return kUnknownCodePage;
}

std::u16string declaredEncoding(std::u16string_view top) {
    size_t start = 0;
    while (start < top.size() && (isSpace(top[start]) || top[start] == u'\xFEFF')) ++start;
    if (top.substr(start, 5) == u"<?xml") {
        size_t end = top.find(u"?>", start);
        if (end != std::u16string_view::npos)
            return std::u16string(attributeValue(top.substr(start, end + 2 - start), u"encoding", false));
    }
    for (size_t meta = findNoCase(top, u"<meta"); meta != std::u16string_view::npos;
         meta = findNoCase(top, u"<meta", meta + 5)) {
        size_t end = top.find(u'>', meta);
        if (end == std::u16string_view::npos) break;
        std::u16string_view tag = top.substr(meta, end + 1 - meta);
        std::u16string_view equiv = attributeValue(tag, u"http-equiv", true);
        if (equiv.size() == 12 && startsWithNoCase(equiv, u"content-type")) {
            std::u16string charset = charsetOf(attributeValue(tag, u"content", true));
            if (!charset.empty()) return charset;
        }
    }
    return {};
}

}  // namespace xml
