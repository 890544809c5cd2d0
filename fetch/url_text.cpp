#include "fetch/url_text.h"

#include <curl/curl.h>
#include "text/text.h"

namespace fetch {

namespace {

bool mustEscape(unsigned char c) {
    if (c <= 0x20 || c >= 0x7F) return true;
    switch (c) {
        case '"':
        case '<':
        case '>':
        case '\\':
        case '^':
        case '`':
        case '{':
        case '|':
        case '}': return true;
        default: return false;
    }
}

}  // namespace

std::string escapeUrl(const std::u16string& url) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char byte : text::toUtf8(url)) {
        auto c = static_cast<unsigned char>(byte);
        if (!mustEscape(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

std::u16string canonicalUrl(const std::u16string& url) {
    std::string escaped = escapeUrl(url);
    std::u16string result = text::fromUtf8(escaped);
    CURLU* parsed = curl_url();
    if (!parsed) return result;
    char* full = nullptr;
    // Parsing resolves the dot steps of the path.
    if (curl_url_set(parsed, CURLUPART_URL, escaped.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_URL, &full, 0) == CURLUE_OK) {
        result = text::fromUtf8(full);
    }
    curl_free(full);
    curl_url_cleanup(parsed);
    return result;
}

}  // namespace fetch
