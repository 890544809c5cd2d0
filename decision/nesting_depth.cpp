#include "decision/nesting_depth.h"

namespace decision {
namespace {

// Position just past the first occurrence of end at or after from; npos when none.
size_t skipPast(std::string_view text, size_t from, std::string_view end) {
    size_t at = text.find(end, from);
    return at == std::string_view::npos ? at : at + end.size();
}

// Position just past the ">" that ends the tag starting at from, quotes respected.
size_t endOfTag(std::string_view text, size_t from, bool& selfClosing) {
    char quote = 0;
    for (size_t i = from; i < text.size(); ++i) {
        char c = text[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            selfClosing = i > from && text[i - 1] == '/';
            return i + 1;
        }
    }
    return std::string_view::npos;
}

}  // namespace

bool nestingWithin(std::string_view text, size_t maxDepth) {
    size_t depth = 0;
    size_t i = 0;
    while ((i = text.find('<', i)) != std::string_view::npos) {
        std::string_view rest = text.substr(i);
        if (rest.substr(0, 4) == "<!--") {
            i = skipPast(text, i + 4, "-->");
        } else if (rest.substr(0, 9) == "<![CDATA[") {
            i = skipPast(text, i + 9, "]]>");
        } else if (rest.substr(0, 2) == "<?" || rest.substr(0, 2) == "<!") {
            i = skipPast(text, i + 2, ">");
        } else if (rest.substr(0, 2) == "</") {
            if (depth > 0) --depth;
            i = skipPast(text, i + 2, ">");
        } else {
            bool selfClosing = false;
            i = endOfTag(text, i + 1, selfClosing);
            if (!selfClosing && ++depth > maxDepth) return false;
        }
        if (i == std::string_view::npos) break;
    }
    return true;
}

}  // namespace decision
