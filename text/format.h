// Type-safe wide printf. Implements exactly the conversions the agent's texts use:
// %s (a wide string), %d, %lf, %x, %0x, %2.2x, %04x and %%.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace text {

class FormatArg {
public:
    enum class Kind { Text, Int, Double };
    FormatArg(std::u16string_view s) : m_kind(Kind::Text), m_text(s) {}
    FormatArg(const std::u16string& s) : m_kind(Kind::Text), m_text(s) {}
    FormatArg(const char16_t* s) : m_kind(Kind::Text), m_text(s ? s : u"") {}
    FormatArg(int v) : m_kind(Kind::Int), m_int(v) {}
    FormatArg(unsigned v) : m_kind(Kind::Int), m_int(v) {}
    FormatArg(long v) : m_kind(Kind::Int), m_int(v) {}
    FormatArg(unsigned long v) : m_kind(Kind::Int), m_int(static_cast<long long>(v)) {}
    FormatArg(long long v) : m_kind(Kind::Int), m_int(v) {}
    FormatArg(unsigned long long v) : m_kind(Kind::Int), m_int(static_cast<long long>(v)) {}
    FormatArg(bool v) : m_kind(Kind::Int), m_int(v ? 1 : 0) {}
    FormatArg(double v) : m_kind(Kind::Double), m_double(v) {}

    Kind m_kind;
    std::u16string_view m_text;
    long long m_int = 0;
    double m_double = 0;
};

std::u16string formatArgs(std::u16string_view format, const std::vector<FormatArg>& args);

template <typename... Args>
std::u16string format(std::u16string_view fmt, const Args&... args) {
    return formatArgs(fmt, std::vector<FormatArg>{FormatArg(args)...});
}

}  // namespace text
