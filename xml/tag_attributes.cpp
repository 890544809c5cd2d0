#include "xml/tag_attributes.h"

namespace xml {

namespace {

char16_t lowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool sameName(std::u16string_view a, std::u16string_view b, bool ignoreCase) {
    if (a.size() != b.size()) return false;
    if (!ignoreCase) return a == b;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

bool hasQuote(std::u16string_view s) { return s.find_first_of(u"\"'") != std::u16string_view::npos; }

// Index of the closing ">" of the tag, or its length when it has none.
size_t tagEnd(std::u16string_view tag) { return !tag.empty() && tag.back() == u'>' ? tag.size() - 1 : tag.size(); }

// Just past the element name.
size_t attributesStart(std::u16string_view tag) {
    size_t i = 1;
    while (i < tagEnd(tag) && !isSpace(tag[i]) && tag[i] != u'/') ++i;
    return i;
}

// Reads the attribute at or after i and moves i past it; false at the end of the tag.
bool nextAttribute(std::u16string_view tag, size_t& i, AttributeSpan& s) {
    const size_t end = tagEnd(tag);
    while (i < end && (isSpace(tag[i]) || tag[i] == u'/' || tag[i] == u'?' || tag[i] == u'=')) ++i;
    if (i >= end) return false;
    s = AttributeSpan();
    s.nameBegin = i;
    while (i < end && !isSpace(tag[i]) && tag[i] != u'=' && tag[i] != u'/') ++i;
    s.nameEnd = i;
    size_t j = i;
    while (j < end && isSpace(tag[j])) ++j;
    if (j >= end || tag[j] != u'=') {  // no value
        s.valueBegin = s.valueEnd = s.nameEnd;
        return true;
    }
    ++j;
    while (j < end && isSpace(tag[j])) ++j;
    if (j < end && (tag[j] == u'"' || tag[j] == u'\'')) {
        size_t close = tag.find(tag[j], j + 1);
        if (close < end) {
            s.quoted = true;
            s.valueBegin = j + 1;
            s.valueEnd = close;
            i = close + 1;
            return true;
        }
        s.unclosed = true;  // the value runs to the end of the tag
        s.valueBegin = j;
        s.valueEnd = i = end;
        return true;
    }
    s.valueBegin = j;
    while (j < end && !isSpace(tag[j]) && !(tag[j] == u'/' && j + 1 == end)) ++j;
    s.valueEnd = i = j;
    return true;
}

}  // namespace

bool isSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

bool isPlainName(std::u16string_view name) {
    if (name.empty()) return false;
    char16_t first = name[0];
    bool letter = (first >= u'a' && first <= u'z') || (first >= u'A' && first <= u'Z');
    if (!letter && first != u'_' && first != u':' && first < 0x80) return false;
    for (char16_t c : name) {
        if (c < 0x20 || c == 0x7F || isSpace(c)) return false;
        switch (c) {
            case u'<':
            case u'>':
            case u'/':
            case u'=':
            case u'"':
            case u'\'':
            case u'&':
            case u'?':
            case u'!': return false;
            default: break;
        }
    }
    return true;
}

bool findAttribute(std::u16string_view tag, std::u16string_view name, bool ignoreCase, AttributeSpan& span) {
    size_t i = attributesStart(tag);
    AttributeSpan s;
    while (nextAttribute(tag, i, s)) {
        if (sameName(tag.substr(s.nameBegin, s.nameEnd - s.nameBegin), name, ignoreCase)) {
            span = s;
            return true;
        }
    }
    return false;
}

bool isEditableTag(std::u16string_view tag) {
    size_t i = attributesStart(tag);
    if (hasQuote(tag.substr(0, i))) return false;
    AttributeSpan s;
    while (nextAttribute(tag, i, s)) {
        if (s.unclosed || hasQuote(tag.substr(s.nameBegin, s.nameEnd - s.nameBegin))) return false;
        if (!s.quoted && hasQuote(tag.substr(s.valueBegin, s.valueEnd - s.valueBegin))) return false;
        // "name=" with nothing after it would take whatever is written next as its value.
        if (!s.quoted && s.valueBegin == s.valueEnd && s.valueBegin != s.nameEnd) return false;
    }
    return true;
}

size_t attributeInsertPoint(std::u16string_view tag) {
    size_t p = tagEnd(tag);
    if (p > 1 && tag[p - 1] == u'/') --p;
    while (p > 1 && isSpace(tag[p - 1])) --p;
    return p;
}

}  // namespace xml
