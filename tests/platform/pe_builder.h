// Builds small PE files in memory with a chosen version resource, so that tests of
// anything that reads file versions need no binary fixtures. Header only, so that every
// test program can include it ("platform/pe_builder.h").
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platformtest {

struct VersionFields {
    uint16_t fileVersion[4] = {1, 0, 0, 0};
    uint16_t productVersion[4] = {1, 0, 0, 0};
    uint32_t fileFlags = 0, fileOS = 0x40004, fileType = 1, fileSubtype = 0;
    uint16_t language = 0x0804, codePage = 0x04B0;
    bool translation = true;  // write \VarFileInfo\Translation
    std::u16string tableKey;  // string table name; empty: language and code page, "%04x%04x"
    using Strings = std::vector<std::pair<std::u16string, std::u16string>>;  // name, value
    Strings strings;
    // Further string tables (name, strings), written before the main one.
    std::vector<std::pair<std::u16string, Strings>> otherTables;
};

namespace detail {

inline void put16(std::string& b, size_t at, uint32_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void put32(std::string& b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}
inline void append16(std::string& b, uint32_t v) {
    b.append(2, '\0');
    put16(b, b.size() - 2, v);
}
inline void append32(std::string& b, uint32_t v) {
    b.append(4, '\0');
    put32(b, b.size() - 4, v);
}
inline void pad4(std::string& b) {
    while (b.size() % 4) b += '\0';
}
inline std::string wide(const std::u16string& s) {
    std::string b;
    for (char16_t c : s) append16(b, c);
    append16(b, 0);
    return b;
}

// One VS_VERSIONINFO node: wLength, wValueLength, wType, key, value, children.
inline std::string block(const std::u16string& key, const std::string& value, uint16_t valueLength, uint16_t type,
                         const std::vector<std::string>& children = {}) {
    std::string b(6, '\0');
    b += wide(key);
    pad4(b);
    b += value;
    for (const auto& child : children) {
        pad4(b);
        b += child;
    }
    put16(b, 0, static_cast<uint32_t>(b.size()));
    put16(b, 2, valueLength);
    put16(b, 4, type);
    return b;
}

inline std::string hex4(unsigned v) {
    const char* digits = "0123456789abcdef";
    std::string s;
    for (int shift = 12; shift >= 0; shift -= 4) s += digits[(v >> shift) & 0xF];
    return s;
}

inline std::string versionBlob(const VersionFields& wanted) {
    std::string fixed;
    append32(fixed, 0xFEEF04BD);
    append32(fixed, 0x00010000);
    append32(fixed, uint32_t(wanted.fileVersion[0]) << 16 | wanted.fileVersion[1]);
    append32(fixed, uint32_t(wanted.fileVersion[2]) << 16 | wanted.fileVersion[3]);
    append32(fixed, uint32_t(wanted.productVersion[0]) << 16 | wanted.productVersion[1]);
    append32(fixed, uint32_t(wanted.productVersion[2]) << 16 | wanted.productVersion[3]);
    append32(fixed, 0x3F);
    append32(fixed, wanted.fileFlags);
    append32(fixed, wanted.fileOS);
    append32(fixed, wanted.fileType);
    append32(fixed, wanted.fileSubtype);
    append32(fixed, 0);
    append32(fixed, 0);

    auto table = [](const std::u16string& name, const VersionFields::Strings& entries) {
        std::vector<std::string> strings;
        for (const auto& s : entries)
            strings.push_back(block(s.first, wide(s.second), static_cast<uint16_t>(s.second.size() + 1), 1));
        return block(name, "", 0, 1, strings);
    };
    std::vector<std::string> tables;
    for (const auto& other : wanted.otherTables) tables.push_back(table(other.first, other.second));
    std::string key = hex4(wanted.language) + hex4(wanted.codePage);
    tables.push_back(
        table(wanted.tableKey.empty() ? std::u16string(key.begin(), key.end()) : wanted.tableKey, wanted.strings));
    std::vector<std::string> children = {block(u"StringFileInfo", "", 0, 1, tables)};
    if (wanted.translation) {
        std::string pair;
        append16(pair, wanted.language);
        append16(pair, wanted.codePage);
        children.push_back(block(u"VarFileInfo", "", 0, 1, {block(u"Translation", pair, 4, 0)}));
    }
    return block(u"VS_VERSION_INFO", fixed, static_cast<uint16_t>(fixed.size()), 0, children);
}

// A PE image with one section, ".rsrc", holding one resource of the given type.
inline std::string image(uint16_t resourceType, const std::string& data, bool pe32Plus) {
    const uint32_t sectionRva = 0x1000, fileAlign = 0x200;
    std::string rsrc;
    auto directory = [&](uint32_t id, uint32_t target) {
        rsrc.append(12, '\0');
        append16(rsrc, 0);  // named entries
        append16(rsrc, 1);  // numbered entries
        append32(rsrc, id);
        append32(rsrc, target);
    };
    directory(resourceType, 0x80000000u | 0x18);
    directory(1, 0x80000000u | 0x30);
    directory(0x0804, 0x48);
    append32(rsrc, sectionRva + 0x58);
    append32(rsrc, static_cast<uint32_t>(data.size()));
    append32(rsrc, 0);
    append32(rsrc, 0);
    rsrc += data;
    uint32_t rawSize = static_cast<uint32_t>((rsrc.size() + fileAlign - 1) / fileAlign * fileAlign);
    rsrc.resize(rawSize, '\0');

    const uint16_t optionalSize = pe32Plus ? 240 : 224;
    std::string b(fileAlign, '\0');
    put16(b, 0, 0x5A4D);
    put32(b, 0x3C, 0x40);
    put32(b, 0x40, 0x00004550);
    size_t coff = 0x44;
    put16(b, coff, pe32Plus ? 0x8664 : 0x14C);
    put16(b, coff + 2, 1);
    put16(b, coff + 16, optionalSize);
    put16(b, coff + 18, 0x2102);
    size_t opt = coff + 20;
    put16(b, opt, pe32Plus ? 0x20B : 0x10B);
    put32(b, opt + 32, 0x1000);                                              // section alignment
    put32(b, opt + 36, fileAlign);                                           // file alignment
    put32(b, opt + 56, sectionRva + 0x1000 * ((rawSize + 0xFFF) / 0x1000));  // size of image
    put32(b, opt + 60, fileAlign);                                           // size of headers
    put16(b, opt + 68, 2);                                                   // subsystem: GUI
    size_t dirs = opt + (pe32Plus ? 108 : 92);
    put32(b, dirs, 16);
    put32(b, dirs + 4 + 2 * 8, sectionRva);
    put32(b, dirs + 4 + 2 * 8 + 4, static_cast<uint32_t>(0x58 + data.size()));
    size_t section = opt + optionalSize;
    b.replace(section, 5, ".rsrc");
    put32(b, section + 8, static_cast<uint32_t>(0x58 + data.size()));
    put32(b, section + 12, sectionRva);
    put32(b, section + 16, rawSize);
    put32(b, section + 20, fileAlign);
    put32(b, section + 36, 0x40000040);
    return b + rsrc;
}

}  // namespace detail

// A PE file whose version resource is described by wanted.
inline std::string peWithVersion(const VersionFields& wanted, bool pe32Plus = false) {
    return detail::image(16, detail::versionBlob(wanted), pe32Plus);
}

// A PE file with a resource section but no version resource (one icon-type resource).
inline std::string peWithoutVersion() { return detail::image(3, std::string(64, '\x11'), false); }

}  // namespace platformtest
