#include "xml/escape.h"

namespace xml {

namespace {

// The longest reference body between "&" and ";".
constexpr size_t kMaxReferenceLength = 9;

bool isReferenceChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'#';
}

// Length of the reference body after the "&" at pos when one follows (";" within reach).
size_t referenceBody(std::u16string_view s, size_t amp) {
    size_t limit = std::min(s.size(), amp + 2 + kMaxReferenceLength);
    for (size_t i = amp + 1; i < limit; ++i)
        if (s[i] == u';') return i - amp - 1;
    return 0;
}

int digitValue(char16_t c, unsigned base) {
    int v = -1;
    if (c >= u'0' && c <= u'9') v = c - u'0';
    else if (c >= u'a' && c <= u'f') v = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F') v = c - u'A' + 10;
    return v >= 0 && static_cast<unsigned>(v) < base ? v : -1;
}

// Code of "#123" or "#x1F"; 0 when malformed or not a character (NUL, surrogate, too big).
unsigned numericReference(std::u16string_view body) {
    unsigned base = 10;
    size_t i = 1;
    if (body.size() > 1 && body[1] == u'x') {
        base = 16;
        i = 2;
    }
    if (i >= body.size()) return 0;
    unsigned long code = 0;
    for (; i < body.size(); ++i) {
        int d = digitValue(body[i], base);
        if (d < 0) return 0;
        code = code * static_cast<unsigned long>(base) + static_cast<unsigned long>(d);
        if (code > 0x10FFFF) return 0;
    }
    if (code >= 0xD800 && code <= 0xDFFF) return 0;
    return static_cast<unsigned>(code);
}

void appendCode(std::u16string& out, unsigned code) {
    if (code < 0x10000) {
        out += static_cast<char16_t>(code);
    } else {
        code -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (code >> 10));
        out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    }
}

}  // namespace

std::u16string escape(std::u16string_view value, unsigned flags) {
    const bool attribute = flags & kEscapeAttribute;
    std::u16string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        char16_t c = value[i];
        switch (c) {
            case u'&': {
                size_t body = (flags & kEscapeKeepReferences) ? referenceBody(value, i) : 0;
                bool plain = body > 0;
                for (size_t k = 1; plain && k <= body; ++k) plain = isReferenceChar(value[i + k]);
                out += plain ? u"&" : u"&amp;";
                break;
            }
            case u'<': out += u"&lt;"; break;
            case u'>': out += u"&gt;"; break;
            case u'"': out += attribute ? u"&quot;" : u"\""; break;
            case u'\'': out += attribute ? u"&apos;" : u"'"; break;
            default: out += c;
        }
    }
    return out;
}

std::u16string unescape(std::u16string_view value) {
    std::u16string out;
    out.reserve(value.size());
    size_t i = 0;
    while (i < value.size()) {
        if (value[i] != u'&') {
            out += value[i++];
            continue;
        }
        size_t body = referenceBody(value, i);
        unsigned code = 0;
        if (body > 0) {
            std::u16string_view name = value.substr(i + 1, body);
            code = name[0] == u'#' ? numericReference(name) : namedReference(name);
        }
        if (code == 0) {
            out += value[i++];
            continue;
        }
        appendCode(out, code);
        i += body + 2;
    }
    return out;
}

std::u16string cdataSection(std::u16string_view value) {
    std::u16string out = u"<![CDATA[";
    size_t start = 0;
    for (size_t pos; (pos = value.find(u"]]>", start)) != std::u16string_view::npos; start = pos + 3) {
        out += value.substr(start, pos - start);
        out += u"]]]]><![CDATA[>";
    }
    out += value.substr(start);
    out += u"]]>";
    return out;
}

}  // namespace xml
