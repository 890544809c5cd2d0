// Tokenising a document into its element index. The text is scanned once from left to
// right: every construct either ends the scan (an unterminated comment, CDATA section,
// processing instruction or DOCTYPE, whose terminator cannot appear later either) or
// moves on past its own characters, so the work is linear and the nesting is an explicit
// stack, never recursion.
#include <unordered_map>

#include "xml/element_index.h"
#include "xml/tag_attributes.h"

namespace xml {

namespace {

constexpr size_t npos = std::u16string_view::npos;

bool isNameStart(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' || c >= 0x80;
}

bool startsWith(std::u16string_view text, size_t pos, std::u16string_view what) {
    return text.substr(pos, what.size()) == what;
}

class Indexer {
public:
    Indexer(std::u16string_view text, ElementIndex& index, ResultLog& log)
        : m_text(text), m_index(index), m_log(log) {}
    bool run();

private:
    struct Open {
        uint32_t element;
        uint32_t lastChild;
    };
    size_t startTag(size_t lt);
    size_t endTag(size_t lt);
    size_t exclamation(size_t lt);
    size_t processingInstruction(size_t lt);
    size_t doctype(size_t lt);
    void openElement(size_t start, size_t tagLength, bool empty);
    void closeElement(std::u16string_view name, size_t tagStart, size_t tagLength);
    void closeUnended(size_t at);
    void syntax(std::u16string_view event, std::u16string_view type, size_t offset) {
        m_log.add(event, u"type", type, u"offset", static_cast<int64_t>(offset));
        m_index[0].flags |= kIllFormed;
    }

    std::u16string_view m_text;
    ElementIndex& m_index;
    ResultLog& m_log;
    std::vector<Open> m_open;
    uint32_t m_lastTopLevel = 0;
    // How many open elements carry each name, so an end tag that matches none is known at
    // once instead of by searching the whole stack.
    std::unordered_map<std::u16string_view, uint32_t> m_openNames;
};

bool Indexer::run() {
    const size_t n = m_text.size();
    size_t i = 0;
    while (i < n) {
        size_t lt = m_text.find(u'<', i);
        if (lt == npos) break;
        if (lt + 1 >= n) {
            syntax(u"unterminated_tag_syntax", u"tag", lt);
            break;
        }
        char16_t c = m_text[lt + 1];
        if (c == u'/') {
            i = endTag(lt);
        } else if (c == u'!') {
            i = exclamation(lt);
        } else if (c == u'?') {
            i = processingInstruction(lt);
        } else if (isNameStart(c)) {
            i = startTag(lt);
        } else {
            syntax(u"first_tag_syntax", u"tag", lt);  // a stray "<" in the text
            i = lt + 1;
        }
    }
    while (!m_open.empty()) closeUnended(n);

    uint32_t root = m_index[0].firstChild;
    uint32_t sibling = root ? m_index[root].nextSibling : 0;
    if (!root && n > 0) m_log.add(u"no_root_element");
    if (sibling)
        m_log.add(u"root_has_sibling", u"tagname", elementName(m_text, m_index[sibling]), u"offset",
                  m_index[sibling].start);
    return !(m_index[0].flags & kIllFormed) && root && !sibling;
}

size_t Indexer::startTag(size_t lt) {
    char16_t quote = 0;
    for (size_t j = lt + 1; j < m_text.size(); ++j) {
        char16_t c = m_text[j];
        if (c == u'<') {  // a tag cannot hold "<", not even in a quoted value
            syntax(u"unterminated_tag_syntax", u"start_tag", lt);
            return j;
        }
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'>') {
            openElement(lt, j + 1 - lt, m_text[j - 1] == u'/');
            return j + 1;
        }
    }
    syntax(u"unterminated_tag_syntax", u"start_tag", lt);
    return m_text.size();
}

size_t Indexer::endTag(size_t lt) {
    size_t gt = m_text.find_first_of(u"<>", lt + 2);
    if (gt == npos || m_text[gt] == u'<') {
        syntax(u"unterminated_tag_syntax", u"end_tag", lt);
        return gt == npos ? m_text.size() : gt;
    }
    size_t nameEnd = lt + 2;
    while (nameEnd < gt && !isSpace(m_text[nameEnd])) ++nameEnd;
    std::u16string_view name = m_text.substr(lt + 2, nameEnd - lt - 2);
    if (name.empty() || !isNameStart(name[0])) syntax(u"first_tag_syntax", u"end_tag", lt);
    else closeElement(name, lt, gt + 1 - lt);
    return gt + 1;
}

size_t Indexer::exclamation(size_t lt) {
    if (startsWith(m_text, lt, u"<!--")) {
        size_t end = m_text.find(u"-->", lt + 4);
        if (end == npos) {
            syntax(u"unterminated_tag_syntax", u"comment", lt);
            return m_text.size();
        }
        return end + 3;
    }
    if (startsWith(m_text, lt, u"<![CDATA[")) {
        size_t end = m_text.find(u"]]>", lt + 9);
        if (end == npos) {
            syntax(u"unterminated_tag_syntax", u"cdata_section", lt);
            return m_text.size();
        }
        if (m_open.empty()) syntax(u"cdata_section_syntax", u"cdata_section", lt);
        return end + 3;
    }
    if (startsWith(m_text, lt, u"<!DOCTYPE")) return doctype(lt);

    if (startsWith(m_text, lt, u"<!-")) syntax(u"comment_tag_syntax", u"comment", lt);
    else if (startsWith(m_text, lt, u"<![")) syntax(u"cdata_section_syntax", u"cdata_section", lt);
    else syntax(u"exclamation_tag_syntax", u"tag", lt);
    size_t stop = m_text.find_first_of(u"<>", lt + 2);
    if (stop == npos) return m_text.size();
    return m_text[stop] == u'>' ? stop + 1 : stop;
}

size_t Indexer::processingInstruction(size_t lt) {
    size_t end = m_text.find(u"?>", lt + 2);
    if (end == npos) {
        syntax(u"unterminated_tag_syntax", u"processing_instruction", lt);
        return m_text.size();
    }
    return end + 2;
}

size_t Indexer::doctype(size_t lt) {
    // The internal subset in brackets may hold ">" of its own, and so may quoted literals.
    size_t depth = 0;
    char16_t quote = 0;
    for (size_t j = lt + 9; j < m_text.size(); ++j) {
        char16_t c = m_text[j];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'[') {
            ++depth;
        } else if (c == u']') {
            if (depth) --depth;
        } else if (c == u'>' && depth == 0) {
            if (!m_open.empty() || m_index.size() > 1) syntax(u"doctype_tag_syntax", u"document_type", lt);
            return j + 1;
        }
    }
    syntax(u"unterminated_tag_syntax", u"document_type", lt);
    return m_text.size();
}

void Indexer::openElement(size_t start, size_t tagLength, bool empty) {
    const uint32_t id = static_cast<uint32_t>(m_index.size());
    Element e;
    e.start = static_cast<uint32_t>(start);
    e.startTagLength = static_cast<uint32_t>(tagLength);
    e.parent = m_open.empty() ? 0 : m_open.back().element;
    uint32_t& last = m_open.empty() ? m_lastTopLevel : m_open.back().lastChild;
    e.previousSibling = last;
    if (last) m_index[last].nextSibling = id;
    else m_index[e.parent].firstChild = id;
    last = id;
    if (empty) {
        e.length = e.startTagLength;
        e.flags = kEmptyTag;
    }
    m_index.push_back(e);
    if (!empty) {
        m_open.push_back({id, 0});
        ++m_openNames[elementName(m_text, e)];
    }
}

void Indexer::closeElement(std::u16string_view name, size_t tagStart, size_t tagLength) {
    auto it = m_openNames.find(name);
    if (it == m_openNames.end() || it->second == 0) {
        m_log.add(u"lone_end_tag", u"tagname", name, u"offset", static_cast<int64_t>(tagStart));
        m_index[0].flags |= kIllFormed;
        return;
    }
    // Elements opened inside the matching one and never closed end where it ends.
    while (elementName(m_text, m_index[m_open.back().element]) != name) closeUnended(tagStart);
    Element& e = m_index[m_open.back().element];
    e.length = static_cast<uint32_t>(tagStart + tagLength - e.start);
    e.endTagLength = static_cast<uint32_t>(tagLength);
    --it->second;
    m_open.pop_back();
}

void Indexer::closeUnended(size_t at) {
    Element& e = m_index[m_open.back().element];
    e.length = static_cast<uint32_t>(at - e.start);
    e.flags |= kUnclosed;
    std::u16string_view name = elementName(m_text, e);
    m_log.add(u"unended_start_tag", u"tagname", name, u"offset", e.start, static_cast<int64_t>(at));
    m_index[0].flags |= kIllFormed;
    --m_openNames[name];
    m_open.pop_back();
}

}  // namespace

bool buildIndex(std::u16string_view text, ElementIndex& index, ResultLog& log) {
    index.clear();
    index.reserve(text.size() / 64 + 8);
    index.emplace_back();
    if (text.size() > kMaxTextLength) {
        log.add(u"truncation_error", {}, {}, u"length", static_cast<int64_t>(text.size()));
        index[0].flags |= kIllFormed;
        return false;
    }
    index[0].length = static_cast<uint32_t>(text.size());
    return Indexer(text, index, log).run();
}

std::u16string_view elementName(std::u16string_view text, const Element& element) {
    size_t begin = element.start + 1;
    size_t end = begin;
    size_t limit = std::min<size_t>(element.start + element.startTagLength, text.size());
    while (end < limit && !isSpace(text[end]) && text[end] != u'/' && text[end] != u'>') ++end;
    return text.substr(begin, end - begin);
}

}  // namespace xml
