#include "xml/file_codec.h"

#include "text/text.h"
#include "xml/encodings.h"
#include "xml/xml_document.h"

namespace xml {

namespace {

// How much of a byte file is looked at for its declared encoding.
constexpr size_t kTopBytes = 1024;

constexpr unsigned kUtf16Flags = XmlDocument::kUtf16LittleEndian | XmlDocument::kUtf16BigEndian;

struct ByteOrderMark {
    std::string_view bytes;
    const char16_t* encoding;
    unsigned flag;
};
const ByteOrderMark kMarks[] = {
    {"\xEF\xBB\xBF", u"UTF-8", XmlDocument::kUtf8Mark},
    {"\xFF\xFE", u"UTF-16LE", XmlDocument::kUtf16LittleEndian},
    {"\xFE\xFF", u"UTF-16BE", XmlDocument::kUtf16BigEndian},
};

void decodeUtf16(std::string_view body, bool bigEndian, std::u16string& text, ResultLog& log) {
    const size_t units = body.size() / 2;
    if (body.size() % 2) log.add(u"truncation_error", {}, {}, u"length", static_cast<int64_t>(body.size()));
    log.add(u"read", u"encoding", bigEndian ? u"UTF-16BE" : u"UTF-16LE", u"length", static_cast<int64_t>(units));
    text.reserve(units);
    size_t nulls = 0;
    for (size_t i = 0; i < units; ++i) {
        auto first = static_cast<unsigned char>(body[2 * i]);
        auto second = static_cast<unsigned char>(body[2 * i + 1]);
        char16_t c =
            bigEndian ? static_cast<char16_t>(first << 8 | second) : static_cast<char16_t>(second << 8 | first);
        if (c == 0) ++nulls;
        else text += c;
    }
    if (nulls) log.add(u"nulls_removed", {}, {}, u"count", static_cast<int64_t>(nulls));
    if (bigEndian) log.add(u"endian_swap", {}, {}, u"length", static_cast<int64_t>(units));
}

void encodeUtf16(std::u16string_view text, bool bigEndian, std::string& bytes, ResultLog& log) {
    bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    bytes.reserve(2 + 2 * text.size());
    for (char16_t c : text) {
        char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    if (bigEndian) log.add(u"endian_swap", {}, {}, u"length", static_cast<int64_t>(text.size()));
}

// Code pages that a byte file can be in (a UTF-16 or UTF-32 name in a file whose top read as
// single bytes is a wrong declaration, not a way to read it).
bool isByteCodePage(int codePage) {
    switch (codePage) {
        case kUnknownCodePage:
        case kUtf16LeCodePage:
        case kUtf16BeCodePage:
        case 12000:
        case 12001:
        case kUtf32CodePage: return false;
        default: return true;
    }
}

bool hasLoneSurrogate(std::u16string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] >= 0xD800 && s[i] <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) ++i;
        else if (s[i] >= 0xD800 && s[i] <= 0xDFFF) return true;
    }
    return false;
}

// US-ASCII and ISO 8859-1 map their characters one to one onto the first code points.
std::string encodeSingleByte(std::u16string_view text, char16_t highest, bool& lossy) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        lossy |= c > highest;
        out += c > highest ? '?' : static_cast<char>(c);
    }
    return out;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        auto b = static_cast<unsigned char>(bytes[i]);
        size_t extra;
        uint32_t c, min;
        if (b < 0x80) {
            ++i;
            continue;
        }
        if ((b & 0xE0) == 0xC0) {
            extra = 1;
            c = b & 0x1F;
            min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            c = b & 0x0F;
            min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            c = b & 0x07;
            min = 0x10000;
        } else return false;
        if (i + extra >= bytes.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            c = c << 6 | (next & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

bool decodeFileBytes(std::string_view bytes, std::u16string& text, unsigned& markFlags, ResultLog& log) {
    text.clear();
    markFlags = 0;
    std::u16string encoding;
    std::string_view body = bytes;
    for (const auto& mark : kMarks) {
        if (bytes.substr(0, mark.bytes.size()) == mark.bytes) {
            markFlags = mark.flag;
            encoding = mark.encoding;
            body = bytes.substr(mark.bytes.size());
            log.add(u"bom", u"encoding", encoding);
            break;
        }
    }
    if (markFlags & kUtf16Flags) {
        decodeUtf16(body, markFlags & XmlDocument::kUtf16BigEndian, text, log);
        return true;
    }
    if (encoding.empty()) {
        encoding = declaredEncoding(text::fromUtf8(bytes.substr(0, kTopBytes)));
        if (encoding.empty() && !bytes.empty() && bytes[0] == '<') encoding = u"UTF-8";
    }
    int codePage = codePageOf(encoding);
    if (encoding.empty() || !isByteCodePage(codePage)) {
        bool utf8 = isValidUtf8(body);
        log.add(u"utf8_detection", u"encoding", utf8 ? u"UTF-8" : u"ANSI");
        encoding = utf8 ? u"UTF-8" : u"";
        codePage = utf8 ? kUtf8CodePage : kAnsiCodePage;
    }
    if (codePage == kUtf8CodePage) {
        text = text::fromUtf8(body);
    } else if (codePage == kAnsiCodePage) {
        text = text::fromAnsi(body);
    } else if (!text::fromCodePage(body, static_cast<unsigned>(codePage), text)) {
        log.add(u"file_error", u"msg", u"no decoder for encoding " + encoding);
        text.clear();
        return false;
    }
    log.add(u"converted_to", u"encoding", u"UTF-16", u"length", static_cast<int64_t>(text.size()));
    return true;
}

bool encodeFileBytes(std::u16string_view text, unsigned markFlags, std::string& bytes, ResultLog& log) {
    bytes.clear();
    if (markFlags & kUtf16Flags) {
        encodeUtf16(text, markFlags & XmlDocument::kUtf16BigEndian, bytes, log);
        return true;
    }
    std::u16string encoding = declaredEncoding(text.substr(0, kTopBytes));
    if (encoding.empty() || (markFlags & XmlDocument::kUtf8Mark)) encoding = u"UTF-8";
    int codePage = codePageOf(encoding);
    if (codePage == kUtf16LeCodePage || codePage == kUtf16BeCodePage) {
        // UTF-16 declared in a text that came from no file: it needs its mark to be read back.
        encodeUtf16(text, codePage == kUtf16BeCodePage, bytes, log);
        return true;
    }
    if (!isByteCodePage(codePage)) codePage = kUtf8CodePage;

    bool lossy = false;
    std::string body;
    if (codePage == kUtf8CodePage) {
        body = text::toUtf8(text);
        lossy = hasLoneSurrogate(text);
    } else if (codePage == kAnsiCodePage) {
        body = text::toAnsi(text);
        lossy = text::fromAnsi(body) != text;
    } else if (codePage == 20127 || codePage == 28591) {
        body = encodeSingleByte(text, codePage == 20127 ? 0x7F : 0xFF, lossy);
    } else {
        log.add(u"file_error", u"msg", u"no encoder for encoding " + encoding);
        return false;
    }
    if (markFlags & XmlDocument::kUtf8Mark) bytes = "\xEF\xBB\xBF";
    bytes += body;
    log.add(u"converted_from", u"encoding", encoding, u"length", static_cast<int64_t>(text.size()));
    if (lossy) log.add(u"conversion_loss", u"encoding", encoding);
    return true;
}

}  // namespace xml
