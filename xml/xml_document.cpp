// Parsing, navigation and reading of the document; editing is in xml_edit.cpp and files
// in xml_file.cpp.
#include "xml/xml_document.h"

#include "xml/escape.h"
#include "xml/tag_attributes.h"

namespace {

constexpr size_t npos = std::u16string_view::npos;

// Character data of a stretch of content without elements: references resolved, CDATA
// sections as written, comments and processing instructions left out.
void appendCharacterData(std::u16string_view s, std::u16string& out) {
    size_t i = 0;
    while (i < s.size()) {
        size_t lt = s.find(u'<', i);
        out += xml::unescape(s.substr(i, lt == npos ? npos : lt - i));
        if (lt == npos) return;
        std::u16string_view rest = s.substr(lt);
        size_t end;
        if (rest.substr(0, 9) == u"<![CDATA[") {
            end = s.find(u"]]>", lt + 9);
            out += s.substr(lt + 9, end == npos ? npos : end - lt - 9);
            end = end == npos ? s.size() : end + 3;
        } else if (rest.substr(0, 4) == u"<!--") {
            end = s.find(u"-->", lt + 4);
            end = end == npos ? s.size() : end + 3;
        } else if (rest.substr(0, 2) == u"<?") {
            end = s.find(u"?>", lt + 2);
            end = end == npos ? s.size() : end + 2;
        } else {
            out += u'<';
            end = lt + 1;
        }
        i = end;
    }
}

}  // namespace

XmlDocument::XmlDocument() { parseText({}); }

XmlDocument::XmlDocument(std::u16string_view text) { parseText(text); }

bool XmlDocument::parseText(std::u16string_view text) {
    m_results.clear();
    std::u16string copy(text);  // text may be a view of m_text itself
    m_text.swap(copy);
    return parse();
}

bool XmlDocument::parse() {
    bool wellFormed = xml::buildIndex(m_text, m_index, m_results);
    m_indexInTextOrder = true;
    resetPositions();
    return wellFormed;
}

void XmlDocument::resetPositions() { m_parent = m_main = m_child = 0; }

std::u16string_view XmlDocument::nameOf(uint32_t element) const {
    return xml::elementName(m_text, m_index[element]);
}

std::u16string_view XmlDocument::startTagOf(uint32_t element) const {
    return std::u16string_view(m_text).substr(m_index[element].start, m_index[element].startTagLength);
}

bool XmlDocument::findElement(std::u16string_view name) {
    if (m_index.size() <= 1) return false;
    uint32_t e = m_main ? m_index[m_main].nextSibling : m_index[m_parent].firstChild;
    for (; e; e = m_index[e].nextSibling) {
        if (name.empty() || nameOf(e) == name) {
            m_main = e;
            m_parent = m_index[e].parent;
            m_child = 0;
            return true;
        }
    }
    return false;
}

bool XmlDocument::enterElement() {
    if (!m_main) return false;
    m_parent = m_main;
    m_main = m_child = 0;
    return true;
}

bool XmlDocument::leaveElement() {
    if (!m_parent) return false;
    m_child = m_main;
    m_main = m_parent;
    m_parent = m_index[m_main].parent;
    return true;
}

std::u16string XmlDocument::elementName() const {
    return m_main ? std::u16string(nameOf(m_main)) : std::u16string();
}

std::u16string XmlDocument::readAttribute(std::u16string_view name) const {
    if (!m_main) return {};
    std::u16string_view tag = startTagOf(m_main);
    xml::AttributeSpan span;
    if (!xml::findAttribute(tag, name, false, span)) return {};
    return xml::unescape(tag.substr(span.valueBegin, span.valueEnd - span.valueBegin));
}

std::u16string XmlDocument::getElementText() const {
    std::u16string out;
    if (!m_main) return out;
    const xml::Element& e = m_index[m_main];
    std::u16string_view text(m_text);
    uint32_t pos = e.contentStart();
    for (uint32_t child = e.firstChild;; child = m_index[child].nextSibling) {
        uint32_t stretchEnd = child ? m_index[child].start : e.contentEnd();
        appendCharacterData(text.substr(pos, stretchEnd - pos), out);
        if (!child) break;
        pos = m_index[child].end();
    }
    return out;
}
