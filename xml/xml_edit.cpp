// Editing in place: the text is changed where the element or attribute stands and the
// index is moved along with it, so the document never needs parsing again.
#include <algorithm>

#include "xml/escape.h"
#include "xml/tag_attributes.h"
#include "xml/xml_document.h"

namespace {

// Line break placed between elements that addElement writes.
constexpr std::u16string_view kLineBreak = u"\r\n";

bool fits(size_t textLength, size_t growth) {
    return growth <= xml::kMaxTextLength && textLength <= xml::kMaxTextLength - growth;
}

}  // namespace

void XmlDocument::splice(uint32_t pos, uint32_t oldLength, std::u16string_view replacement, uint32_t owner) {
    m_text.replace(pos, oldLength, replacement);
    const uint32_t delta = static_cast<uint32_t>(replacement.size()) - oldLength;  // modular
    const uint32_t after = pos + oldLength;
    // While the entries are in text order, those that move are a tail found by binary
    // search, so appending stays linear over a whole document.
    size_t first = 1;
    if (m_indexInTextOrder) {
        auto moved = std::partition_point(m_index.begin() + 1, m_index.end(),
                                          [after](const xml::Element& e) { return e.start < after; });
        first = static_cast<size_t>(moved - m_index.begin());
    }
    for (size_t i = first; i < m_index.size(); ++i)
        if (m_index[i].start >= after) m_index[i].start += delta;
    for (uint32_t e = owner;; e = m_index[e].parent) {
        m_index[e].length += delta;
        if (e == 0) break;
    }
}

uint32_t XmlDocument::lastChildOf(uint32_t element) const {
    uint32_t last = 0;
    for (uint32_t e = m_index[element].firstChild; e; e = m_index[e].nextSibling) last = e;
    return last;
}

// "<name/>" becomes "<name></name>" so that children can go inside.
void XmlDocument::openEmptyElement(uint32_t element) {
    std::u16string endTag = u"</" + std::u16string(nameOf(element)) + u">";
    const xml::Element& e = m_index[element];
    uint32_t slashes = 0;  // every "/" before the ">", or "<a//>" would stay empty
    while (m_text[e.start + e.startTagLength - 2 - slashes] == u'/') ++slashes;
    splice(e.start + e.startTagLength - 1 - slashes, slashes, {}, element);
    m_index[element].startTagLength -= slashes;
    splice(m_index[element].end(), 0, endTag, element);
    m_index[element].endTagLength = static_cast<uint32_t>(endTag.size());
    m_index[element].flags &= ~xml::kEmptyTag;
}

bool XmlDocument::addElement(std::u16string_view name, std::u16string_view value, unsigned flags) {
    if (!xml::isPlainName(name)) return false;
    std::u16string element = u"<" + std::u16string(name);
    uint32_t startTagLength, endTagLength = 0;
    if (value.empty()) {
        element += u"/>";
        startTagLength = static_cast<uint32_t>(element.size());
    } else {
        element += u'>';
        startTagLength = static_cast<uint32_t>(element.size());
        element += (flags & kCdata)
                       ? xml::cdataSection(value)
                       : xml::escape(value, (flags & kKeepReferences) ? xml::kEscapeKeepReferences : 0);
        element += u"</" + std::u16string(name) + u">";
        endTagLength = static_cast<uint32_t>(name.size() + 3);
    }
    const uint32_t parent = m_main ? m_index[m_main].parent : m_parent;
    size_t growth = element.size() + 2 * kLineBreak.size() + (parent ? nameOf(parent).size() + 3 : 0);
    if (!fits(m_text.size(), growth)) return false;

    uint32_t previous, next = 0, pos;
    std::u16string insertion;
    if (m_main) {
        previous = m_main;
        next = m_index[m_main].nextSibling;
        pos = m_index[m_main].end();
        insertion = std::u16string(kLineBreak) + element;
    } else {
        if (parent && (m_index[parent].flags & xml::kEmptyTag)) openEmptyElement(parent);
        previous = lastChildOf(parent);
        pos = parent ? m_index[parent].contentEnd() : static_cast<uint32_t>(m_text.size());
        if (pos > 0 && m_text[pos - 1] != u'\n') insertion = kLineBreak;
        insertion += element;
        if (parent) insertion += kLineBreak;
    }
    xml::Element e;
    e.start = pos + static_cast<uint32_t>(insertion.find(u'<'));
    e.length = static_cast<uint32_t>(element.size());
    e.startTagLength = startTagLength;
    e.endTagLength = endTagLength;
    e.flags = value.empty() ? xml::kEmptyTag : 0;
    e.parent = parent;
    e.previousSibling = previous;
    e.nextSibling = next;
    splice(pos, 0, insertion, parent);

    const uint32_t id = static_cast<uint32_t>(m_index.size());
    if (e.start < m_index.back().start) m_indexInTextOrder = false;  // inserted before a later element
    m_index.push_back(e);
    if (previous) m_index[previous].nextSibling = id;
    else m_index[parent].firstChild = id;
    if (next) m_index[next].previousSibling = id;
    m_main = id;
    m_parent = parent;
    m_child = 0;
    return true;
}

bool XmlDocument::setAttribute(std::u16string_view name, std::u16string_view value) {
    if (!m_main || !xml::isPlainName(name)) return false;
    std::u16string escaped = xml::escape(value, xml::kEscapeAttribute);
    if (!fits(m_text.size(), escaped.size() + name.size() + 4)) return false;

    std::u16string_view tag = startTagOf(m_main);
    if (!xml::isEditableTag(tag)) return false;
    const uint32_t tagStart = m_index[m_main].start;
    xml::AttributeSpan span;
    uint32_t pos, oldLength;
    std::u16string replacement;
    if (!xml::findAttribute(tag, name, false, span)) {
        pos = tagStart + static_cast<uint32_t>(xml::attributeInsertPoint(tag));
        oldLength = 0;
        replacement = u" " + std::u16string(name) + u"=\"" + escaped + u"\"";
    } else if (span.quoted) {
        pos = tagStart + static_cast<uint32_t>(span.valueBegin);
        oldLength = static_cast<uint32_t>(span.valueEnd - span.valueBegin);
        replacement = escaped;
    } else {  // unquoted or without a value: write it out properly
        pos = tagStart + static_cast<uint32_t>(span.nameBegin);
        oldLength = static_cast<uint32_t>(span.valueEnd - span.nameBegin);
        replacement = std::u16string(name) + u"=\"" + escaped + u"\"";
    }
    splice(pos, oldLength, replacement, m_main);
    m_index[m_main].startTagLength += static_cast<uint32_t>(replacement.size()) - oldLength;
    return true;
}
