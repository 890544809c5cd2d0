// Reader of the version resource (VS_VERSIONINFO) of a PE file.
// Every offset and length in the file is checked before use, so a truncated or hostile
// file only makes the read fail.
#include <string_view>
#include <vector>
#include "text/text.h"
#include "platform/version_resource.h"

namespace plat {

namespace {

constexpr uint16_t kRtVersion = 16;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;

class Bytes {
public:
    explicit Bytes(std::string_view data) : m_data(data) {}
    size_t size() const { return m_data.size(); }
    bool has(uint64_t offset, uint64_t length) const {
        return offset <= m_data.size() && length <= m_data.size() - offset;
    }
    uint16_t u16(size_t at) const { return static_cast<uint16_t>(byte(at) | byte(at + 1) << 8); }
    uint32_t u32(size_t at) const { return u16(at) | static_cast<uint32_t>(u16(at + 2)) << 16; }

private:
    unsigned byte(size_t at) const { return static_cast<unsigned char>(m_data[at]); }
    std::string_view m_data;
};

struct Section {
    uint32_t virtualAddress, rawSize, rawOffset;
};

// No version resource comes near this; a larger one is refused unread.
constexpr uint32_t kMaxVersionBytes = 1024 * 1024;

// A PE file read piecewise: its headers, then the few entries of the resource directory
// that lead to the version resource, then that resource. Code, data and the other
// resources are never read.
class PeImage {
public:
    explicit PeImage(const PeReadAt& read) : m_read(read) {}

    // The bytes of the first language of the first RT_VERSION resource.
    bool versionData(std::string& data) {
        if (!readHeaders()) return false;
        uint32_t entry;
        if (!findEntry(0, true, entry) || !(entry & 0x80000000u)) return false;
        if (!findEntry(entry & 0x7FFFFFFFu, false, entry) || !(entry & 0x80000000u)) return false;
        if (!findEntry(entry & 0x7FFFFFFFu, false, entry) || (entry & 0x80000000u)) return false;
        std::string dataEntry;
        if (!readResource(entry, 16, dataEntry)) return false;
        uint32_t dataRva = Bytes(dataEntry).u32(0), dataSize = Bytes(dataEntry).u32(4);
        return dataSize <= kMaxVersionBytes && readRva(dataRva, dataSize, data);
    }

private:
    bool readExact(uint64_t offset, size_t length, std::string& bytes) const {
        return m_read(offset, length, bytes) && bytes.size() == length;
    }

    bool readHeaders() {
        std::string dos, header, optionalHeader, table;
        if (!readExact(0, 64, dos) || Bytes(dos).u16(0) != 0x5A4D) return false;  // "MZ"
        uint64_t pe = Bytes(dos).u32(0x3C);
        if (!readExact(pe, 24, header) || Bytes(header).u32(0) != 0x00004550) return false;  // "PE\0\0"
        uint16_t sectionCount = Bytes(header).u16(6), optionalSize = Bytes(header).u16(20);
        if (optionalSize < 2 || !readExact(pe + 24, optionalSize, optionalHeader)) return false;
        Bytes optional(optionalHeader);
        uint16_t magic = optional.u16(0);
        size_t countAt = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
        if (countAt == 0 || optionalSize < countAt + 4) return false;
        uint32_t directoryCount = optional.u32(countAt);
        size_t resourceEntry = countAt + 4 + 2 * 8;  // the third data directory
        if (directoryCount < 3 || optionalSize < resourceEntry + 8) return false;
        m_resourceRva = optional.u32(resourceEntry);
        if (m_resourceRva == 0 || optional.u32(resourceEntry + 4) == 0) return false;
        if (!readExact(pe + 24 + optionalSize, size_t(sectionCount) * 40, table)) return false;
        Bytes t(table);
        for (size_t i = 0; i < sectionCount; ++i) {
            size_t s = i * 40;
            m_sections.push_back(Section{t.u32(s + 12), t.u32(s + 16), t.u32(s + 20)});
        }
        return true;
    }

    // The bytes at rva, which must lie whole in the raw data of one section.
    bool readRva(uint64_t rva, uint32_t length, std::string& bytes) const {
        for (const auto& s : m_sections) {
            if (rva < s.virtualAddress || rva - s.virtualAddress >= s.rawSize) continue;
            uint64_t inSection = rva - s.virtualAddress;
            if (length > s.rawSize - inSection) return false;
            return readExact(uint64_t(s.rawOffset) + inSection, length, bytes);
        }
        return false;
    }

    // Offsets inside the resource directory count from its start.
    bool readResource(uint32_t offset, uint32_t length, std::string& bytes) const {
        return readRva(uint64_t(m_resourceRva) + offset, length, bytes);
    }

    // An entry of the resource directory at directory: the one with ID kRtVersion when
    // wantVersion is set, else the first one (named or numbered).
    bool findEntry(uint32_t directory, bool wantVersion, uint32_t& target) const {
        std::string head, entries;
        if (!readResource(directory, 16, head)) return false;
        uint32_t named = Bytes(head).u16(12), numbered = Bytes(head).u16(14);
        if (!readResource(directory + 16, (named + numbered) * 8, entries)) return false;
        Bytes e(entries);
        for (uint32_t i = 0; i < named + numbered; ++i) {
            uint32_t name = e.u32(i * 8);
            if (wantVersion && (i < named || name != kRtVersion)) continue;
            target = e.u32(i * 8 + 4);
            return true;
        }
        return false;
    }

    const PeReadAt& m_read;
    std::vector<Section> m_sections;
    uint32_t m_resourceRva = 0;
};

// One node of the VS_VERSIONINFO tree: wLength, wValueLength, wType, a NUL-terminated
// UTF-16 key, the value and the children, each part aligned to four bytes from the
// start of the resource.
struct Block {
    std::u16string key;
    size_t valueOffset = 0, valueBytes = 0, childrenOffset = 0, end = 0;
    bool textValue = false;
};

size_t align4(size_t n) { return (n + 3) & ~size_t(3); }

bool readBlock(const Bytes& data, size_t at, size_t limit, Block& block) {
    if (at + 6 > limit) return false;
    size_t length = data.u16(at);
    if (length < 6 || length > limit - at) return false;
    block.end = at + length;
    size_t valueLength = data.u16(at + 2);
    block.textValue = data.u16(at + 4) == 1;
    size_t p = at + 6;
    block.key.clear();
    for (;; p += 2) {
        if (p + 2 > block.end) return false;
        char16_t c = data.u16(p);
        if (c == 0) break;
        block.key += c;
    }
    block.valueOffset = align4(p + 2);
    block.valueBytes = block.textValue ? valueLength * 2 : valueLength;
    if (block.valueOffset > block.end) block.valueOffset = block.end;
    if (block.valueBytes > block.end - block.valueOffset) block.valueBytes = block.end - block.valueOffset;
    block.childrenOffset = align4(block.valueOffset + block.valueBytes);
    return true;
}

// Calls visit(child) for each child of parent; stops at the first malformed one.
template <typename Visit>
void forEachChild(const Bytes& data, const Block& parent, Visit visit) {
    Block child;
    for (size_t at = parent.childrenOffset; at < parent.end; at = align4(child.end)) {
        if (!readBlock(data, at, parent.end, child)) return;
        visit(child);
    }
}

std::u16string textOf(const Bytes& data, const Block& block) {
    std::u16string value;
    for (size_t p = block.valueOffset; p + 2 <= block.valueOffset + block.valueBytes; p += 2) {
        char16_t c = data.u16(p);
        if (c == 0) break;
        value += c;
    }
    return value;
}

std::u16string hex4(unsigned v) {
    static const char16_t digits[] = u"0123456789abcdef";
    std::u16string s;
    for (int shift = 12; shift >= 0; shift -= 4) s += digits[(v >> shift) & 0xF];
    return s;
}

void readStrings(const Bytes& data, const Block& table, VersionResource& out) {
    forEachChild(data, table, [&](const Block& entry) {
        std::u16string* field = text::equalsNoCase(entry.key, u"CompanyName")       ? &out.companyName
                                : text::equalsNoCase(entry.key, u"ProductName")     ? &out.productName
                                : text::equalsNoCase(entry.key, u"FileDescription") ? &out.fileDescription
                                                                                    : nullptr;
        if (field) *field = textOf(data, entry);
    });
}

bool readFixed(const Bytes& data, const Block& root, VersionResource& out) {
    if (root.valueBytes < 52 || data.u32(root.valueOffset) != kFixedSignature) return false;
    size_t f = root.valueOffset;
    uint32_t words[4] = {data.u32(f + 8), data.u32(f + 12), data.u32(f + 16), data.u32(f + 20)};
    for (int i = 0; i < 2; ++i) {
        out.fileVersion[2 * i] = static_cast<uint16_t>(words[i] >> 16);
        out.fileVersion[2 * i + 1] = static_cast<uint16_t>(words[i]);
        out.productVersion[2 * i] = static_cast<uint16_t>(words[2 + i] >> 16);
        out.productVersion[2 * i + 1] = static_cast<uint16_t>(words[2 + i]);
    }
    out.fileFlags = data.u32(f + 28);
    out.fileOS = data.u32(f + 32);
    out.fileType = data.u32(f + 36);
    out.fileSubtype = data.u32(f + 40);
    return true;
}

}  // namespace

bool parsePeVersionResource(const std::string& peBytes, VersionResource& out) {
    PeReadAt read = [&peBytes](uint64_t offset, size_t length, std::string& bytes) {
        if (offset > peBytes.size()) return false;
        bytes.assign(peBytes, static_cast<size_t>(offset), length);  // shorter at the end
        return true;
    };
    return parsePeVersionResource(read, out);
}

bool parsePeVersionResource(const PeReadAt& read, VersionResource& out) {
    out = VersionResource();
    std::string resource;
    if (!PeImage(read).versionData(resource)) return false;
    Bytes data(resource);
    Block root;
    if (!readBlock(data, 0, data.size(), root) || root.key != u"VS_VERSION_INFO") return false;
    if (!readFixed(data, root, out)) return false;

    // The first \VarFileInfo\Translation entry names the string table to read.
    std::u16string wanted;
    std::vector<Block> tables;
    forEachChild(data, root, [&](const Block& child) {
        if (child.key == u"VarFileInfo") {
            forEachChild(data, child, [&](const Block& var) {
                if (var.key == u"Translation" && var.valueBytes >= 4 && wanted.empty())
                    wanted = hex4(data.u16(var.valueOffset)) + hex4(data.u16(var.valueOffset + 2));
            });
        } else if (child.key == u"StringFileInfo") {
            forEachChild(data, child, [&](const Block& table) { tables.push_back(table); });
        }
    });
    if (tables.empty()) return true;
    const Block* chosen = &tables.front();  // no matching translation: the first table
    for (const auto& table : tables)
        if (!wanted.empty() && text::equalsNoCase(table.key, wanted)) {
            chosen = &table;
            break;
        }
    readStrings(data, *chosen, out);
    return true;
}

}  // namespace plat
