#include "decision/update_document.h"

#include <rapidxml/rapidxml.hpp>

#include <string_view>

#include "decision/nesting_depth.h"
#include "text/text.h"

namespace decision {
namespace {

using Node = rapidxml::xml_node<char>;
using Attribute = rapidxml::xml_attribute<char>;
using Base = rapidxml::xml_base<char>;

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

std::string_view nameOf(const Base& n) { return {n.name(), n.name_size()}; }
std::string_view valueOf(const Base& n) { return {n.value(), n.value_size()}; }
std::u16string wideValue(const Base& n) { return text::fromAnsi(valueOf(n)); }

bool nameIs(const Base& n, std::string_view expected) {
    std::string_view name = nameOf(n);
    if (name.size() != expected.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char a = name[i], b = expected[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

UpdateRecord readUpdateRecord(const Node& element) {
    UpdateRecord r;
    for (const Attribute* a = element.first_attribute(); a; a = a->next_attribute()) {
        std::u16string v = wideValue(*a);
        std::string bytes(valueOf(*a));
        if (nameIs(*a, "name")) {
            r.name = v;
            r.nameBytes = bytes;
        } else if (nameIs(*a, "enable")) r.enable = text::atoi(v) == 1;
        else if (nameIs(*a, "runnow")) r.runnow = text::atoi(v);
        else if (nameIs(*a, "prismlink")) r.prismlink = v;
        else if (nameIs(*a, "filesize")) r.filesize = v;
        else if (nameIs(*a, "crc32")) r.crc32 = v;
        else if (nameIs(*a, "httplink")) r.httplink = v;
        else if (nameIs(*a, "httplinkfull")) r.httplinkfull = v;
        else if (nameIs(*a, "md5")) {
            r.md5 = v;
            r.md5Bytes = bytes;
        } else if (nameIs(*a, "sha256")) r.sha256 = v;
        else if (nameIs(*a, "allowdowngrade")) r.allowdowngrade = text::atoi(v) == 1;
        else if (nameIs(*a, "probability")) r.probability = text::atoi(v);
        else if (nameIs(*a, "seed")) r.seed = text::atoi(v);
        else if (nameIs(*a, "usehttp")) r.usehttp = text::atoi(v);
        else if (nameIs(*a, "critical")) r.critical = text::atoi(v) == 1;
        else if (nameIs(*a, "whitelist")) r.whitelist = v;
        else if (nameIs(*a, "blacklist")) r.blacklist = v;
        else if (nameIs(*a, "showtip")) r.showtip = text::atoi(v);
        else if (nameIs(*a, "verlog")) r.verlogBytes = bytes;
        else if (nameIs(*a, "ver")) r.verBytes = bytes;
        else if (nameIs(*a, "clientminver")) r.clientminver = v;
        else if (nameIs(*a, "clientmaxver")) r.clientmaxver = v;
        else if (nameIs(*a, "partnerid")) r.partnerid = v;
        else if (nameIs(*a, "basenumber")) r.basenumber = text::atoi(v) > 0 ? text::atoi(v) : 100;
    }
    return r;
}

FileRecord readFileRecord(const Node& child) {
    FileRecord f;
    for (const Attribute* a = child.first_attribute(); a; a = a->next_attribute()) {
        std::u16string v = wideValue(*a);
        if (nameIs(*a, "name")) f.name = v;
        else if (nameIs(*a, "ver")) f.ver = v;
        else if (nameIs(*a, "path")) f.path = v;
        else if (nameIs(*a, "minver")) f.minver = v;
        else if (nameIs(*a, "maxver")) f.maxver = v;
        else if (nameIs(*a, "subpath")) f.subpath = v;
    }
    return f;
}

NamedPath readNamedPath(const Node& child) {
    NamedPath p;
    for (const Attribute* a = child.first_attribute(); a; a = a->next_attribute()) {
        if (nameIs(*a, "name")) p.name = wideValue(*a);
        else if (nameIs(*a, "flag")) p.flag = wideValue(*a);
        else if (nameIs(*a, "reg")) p.reg = wideValue(*a);
    }
    return p;
}

// The texts of every child node (elements and text alike), in order.
std::vector<std::u16string> childTexts(const Node& element) {
    std::vector<std::u16string> texts;
    for (const Node* c = element.first_node(); c; c = c->next_sibling()) texts.push_back(wideValue(*c));
    return texts;
}

bool readItem(const Node& child, DocumentItem& item) {
    using Kind = DocumentItem::Kind;
    if (nameIs(child, "Domain")) {
        item.kind = Kind::Domains;
        item.texts = childTexts(child);
    } else if (nameIs(child, "Path")) {
        item.kind = Kind::Paths;
        for (const Node* c = child.first_node(); c; c = c->next_sibling()) item.paths.push_back(readNamedPath(*c));
    } else if (nameIs(child, "Clientpath")) {
        item.kind = Kind::ClientPath;
        item.texts.push_back(wideValue(child));
    } else if (nameIs(child, "recentfile")) {
        item.kind = Kind::RecentFiles;
        item.texts = childTexts(child);
    } else if (nameIs(child, "update")) {
        item.kind = Kind::Update;
        item.update = readUpdateRecord(child);
        for (const Node* c = child.first_node(); c; c = c->next_sibling())
            item.files.push_back(readFileRecord(*c));
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool parseUpdateDocument(const std::string& text, std::vector<DocumentItem>& items) {
    // The parser recurses once per level: a deep document is refused like a malformed one.
    if (!nestingWithin(text)) return false;
    // The parser works in place and keeps pointers into the buffer while it is read.
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    rapidxml::xml_document<char> document;
    try {
        document.parse<0>(buffer.data());
    } catch (...) {
        return false;
    }
    const Node* root = document.first_node();
    if (!root) return false;
    // Sized once: a large document's records are never copied while the list grows.
    size_t children = 0;
    for (const Node* child = root->first_node(); child; child = child->next_sibling()) ++children;
    items.reserve(items.size() + children);
    for (const Node* child = root->first_node(); child; child = child->next_sibling()) {
        DocumentItem item;
        if (readItem(*child, item)) items.push_back(std::move(item));
    }
    return true;
}

std::string cleanDocumentBody(const std::string& body) {
    if (body.size() <= 4) return body;
    std::string copy = body.compare(0, 3, kByteOrderMark) == 0 ? body.substr(3) : body;
    size_t last = copy.rfind('>');
    copy.resize(last == std::string::npos ? 0 : last + 1);
    return copy;
}

}  // namespace decision
