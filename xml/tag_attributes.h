// Attributes inside one start tag ("<name a="1" b='2'/>"), read where they stand so an
// edit can replace exactly the characters of a value.
#pragma once
#include <cstddef>
#include <string_view>

namespace xml {

struct AttributeSpan {
    size_t nameBegin = 0, nameEnd = 0;
    size_t valueBegin = 0, valueEnd = 0;  // inside the quotes when quoted
    bool quoted = false;
    bool unclosed = false;  // an opening quote without its closing one
};

// Finds the first attribute called name in tag (from "<" to ">"). Tolerates unquoted values
// and attributes without a value. HTML names ignore letter case, XML names do not.
bool findAttribute(std::u16string_view tag, std::u16string_view name, bool ignoreCase, AttributeSpan& span);

// True when every quote in the tag delimits a value and every "=" has a value, so that a
// value can be replaced or an attribute added without changing how the tag reads.
bool isEditableTag(std::u16string_view tag);

// Where a new attribute goes: after the last attribute, before "/>" or ">".
size_t attributeInsertPoint(std::u16string_view tag);

bool isSpace(char16_t c);
// A name an edit may write: starts with a letter, "_", ":" or a non-ASCII character and
// holds nothing that would end it early or break the markup around it.
bool isPlainName(std::u16string_view name);

}  // namespace xml
