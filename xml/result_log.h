// The result records of a parse, load or save: one empty element per event, written back
// to back ("<lone_end_tag tagname="b" offset="7"/>"). Nobody reads them to decide
// anything; they tell a person what the tolerant reader made of a file.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace xml {

class ResultLog {
public:
    // Once the text holds this many characters, further records are dropped.
    static constexpr size_t kLimit = 1000;

    void clear() { m_text.clear(); }
    const std::u16string& text() const { return m_text; }

    // <event textName="textValue" numberName="number" offset2="offset2"/>; an empty name
    // leaves its attribute out, and offset2 is written only when it is not kNone.
    static constexpr int64_t kNone = -1;
    void add(std::u16string_view event, std::u16string_view textName = {}, std::u16string_view textValue = {},
             std::u16string_view numberName = {}, int64_t number = 0, int64_t offset2 = kNone);

private:
    std::u16string m_text;
};

}  // namespace xml
