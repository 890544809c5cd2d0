#include "text/format.h"

#include <cstdio>

namespace text {

namespace {

// Renders one numeric conversion through the C library with a narrow conversion text.
std::u16string renderNumber(const std::string& conversion, char conv, const FormatArg& arg) {
    char buf[128];
    if (conv == 'f' || conv == 'e' || conv == 'g') {
        double v = arg.m_kind == FormatArg::Kind::Double ? arg.m_double : static_cast<double>(arg.m_int);
        std::snprintf(buf, sizeof buf, (conversion + conv).c_str(), v);
    } else if (conv == 'x' || conv == 'X' || conv == 'u') {
        long long iv = arg.m_kind == FormatArg::Kind::Double ? static_cast<long long>(arg.m_double) : arg.m_int;
        unsigned long long v = static_cast<unsigned long long>(iv);
        // A negative 32-bit value prints as its 32-bit pattern, as the Windows CRT does.
        if (iv < 0 && iv >= -0x80000000LL) v &= 0xFFFFFFFFULL;
        std::snprintf(buf, sizeof buf, (conversion + "ll" + conv).c_str(), v);
    } else {
        long long v = arg.m_kind == FormatArg::Kind::Double ? static_cast<long long>(arg.m_double) : arg.m_int;
        std::snprintf(buf, sizeof buf, (conversion + "lld").c_str(), v);
    }
    std::string s(buf);
    return std::u16string(s.begin(), s.end());
}

}  // namespace

std::u16string formatArgs(std::u16string_view fmt, const std::vector<FormatArg>& args) {
    std::u16string out;
    size_t next = 0;
    for (size_t i = 0; i < fmt.size(); ++i) {
        char16_t c = fmt[i];
        if (c != u'%') {
            out += c;
            continue;
        }
        if (i + 1 < fmt.size() && fmt[i + 1] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        // %[flags][width][.precision][length]conversion
        std::string conversion = "%";
        size_t j = i + 1;
        while (j < fmt.size() &&
               (fmt[j] == u'-' || fmt[j] == u'0' || fmt[j] == u'+' || fmt[j] == u' ' || fmt[j] == u'#'))
            conversion += static_cast<char>(fmt[j++]);
        while (j < fmt.size() && fmt[j] >= u'0' && fmt[j] <= u'9') conversion += static_cast<char>(fmt[j++]);
        if (j < fmt.size() && fmt[j] == u'.') {
            conversion += '.';
            ++j;
            while (j < fmt.size() && fmt[j] >= u'0' && fmt[j] <= u'9') conversion += static_cast<char>(fmt[j++]);
        }
        while (j < fmt.size() && (fmt[j] == u'l' || fmt[j] == u'h' || fmt[j] == u'I')) ++j;
        if (j >= fmt.size()) {
            out.append(fmt.substr(i));
            break;
        }
        char conv = static_cast<char>(fmt[j]);
        i = j;
        if (next >= args.size()) continue;  // missing argument: nothing is printed
        const FormatArg& arg = args[next++];
        if (conv == 's' || conv == 'S') {
            std::u16string value =
                arg.m_kind == FormatArg::Kind::Text ? std::u16string(arg.m_text) : renderNumber("%", 'd', arg);
            size_t width = 0;
            bool left = false;
            for (char ch : conversion.substr(1)) {
                if (ch == '-') left = true;
                else if (ch == '.') break;
                else if (ch >= '0' && ch <= '9') width = width * 10 + static_cast<size_t>(ch - '0');
            }
            std::u16string pad(value.size() < width ? width - value.size() : 0, u' ');
            out += left ? value + pad : pad + value;
        } else if (arg.m_kind == FormatArg::Kind::Text) {
            continue;  // a text where a number belongs prints nothing
        } else {
            out += renderNumber(conversion, conv == 'i' ? 'd' : conv, arg);
        }
    }
    return out;
}

}  // namespace text
