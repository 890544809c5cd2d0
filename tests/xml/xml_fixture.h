// Helpers shared by the XML document tests.
#pragma once
#include <string>

#include "text/text.h"
#include "xml/xml_document.h"

namespace xmltest {

// The element tree below the current level, e.g. "root(a b(c))": names in document order,
// children in brackets. Leaves the document where it found it (after its last sibling).
inline std::u16string outline(XmlDocument& doc) {
    std::u16string out;
    while (doc.findElement(u"")) {
        if (!out.empty()) out += u' ';
        out += doc.elementName();
        doc.enterElement();
        std::u16string inner = outline(doc);
        doc.leaveElement();
        if (!inner.empty()) out += u"(" + inner + u")";
    }
    return out;
}

inline std::u16string outlineOf(std::u16string_view text) {
    XmlDocument doc(text);
    return outline(doc);
}

inline bool contains(const std::u16string& haystack, std::u16string_view needle) {
    return haystack.find(needle) != std::u16string::npos;
}

}  // namespace xmltest
