// The index of a document text: where each element starts and ends and how the elements
// nest. Entry 0 stands for the document itself; its children are the top-level elements.
// Links are entry numbers, 0 meaning none.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "xml/result_log.h"

namespace xml {

constexpr uint32_t kEmptyTag = 0x1;   // "<name/>"
constexpr uint32_t kUnclosed = 0x2;   // start tag without end tag: ends where its parent ends
constexpr uint32_t kIllFormed = 0x4;  // on entry 0: the document is not well formed

struct Element {
    uint32_t start = 0;   // offset of "<"
    uint32_t length = 0;  // the whole element, end tag included
    uint32_t startTagLength = 0;
    uint32_t endTagLength = 0;  // 0 for an empty-element tag or an unclosed element
    uint32_t parent = 0, firstChild = 0, nextSibling = 0, previousSibling = 0;
    uint32_t flags = 0;
    uint32_t end() const { return start + length; }
    uint32_t contentStart() const { return start + startTagLength; }
    uint32_t contentEnd() const { return start + length - endTagLength; }
};

using ElementIndex = std::vector<Element>;

// The longest text the index can address.
constexpr size_t kMaxTextLength = 0x7FFFFFFF;

// Indexes text from scratch, recording every problem in log. Work and memory grow
// linearly with the text; nesting depth costs no stack. True iff the text is well formed:
// no ill-formed mark, a top-level element and no second one.
bool buildIndex(std::u16string_view text, ElementIndex& index, ResultLog& log);

// Name of an element: its start tag up to a blank, "/" or ">".
std::u16string_view elementName(std::u16string_view text, const Element& element);

}  // namespace xml
