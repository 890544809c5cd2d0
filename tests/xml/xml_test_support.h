// Helpers shared by the XML document tests.
#pragma once
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/text.h"
#include "xml/xml_document.h"

namespace xmltest {

// The element tree below the current level, e.g. "root(a b(c))": names in document order,
// children in brackets. Leaves the document where it found it (after its last sibling).
inline std::u16string outline(XmlDocument& doc) {
    std::u16string out;
    while (doc.findElement(u"")) {
        if (!out.empty()) out += u' ';
        out += doc.elementName();
        doc.enterElement();
        std::u16string inner = outline(doc);
        doc.leaveElement();
        if (!inner.empty()) out += u"(" + inner + u")";
    }
    return out;
}

inline std::u16string outlineOf(std::u16string_view text) {
    XmlDocument doc(text);
    return outline(doc);
}

// A fresh folder per test, removed afterwards; paths come out in the core's "\" form.
class Sandbox {
public:
    Sandbox() {
        static const unsigned run = std::random_device()();
        static std::atomic<int> counter{0};
        m_dir = std::filesystem::temp_directory_path() /
                ("ov_xml_" + std::to_string(run) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    ~Sandbox() { std::filesystem::remove_all(m_dir); }

    std::string native(const std::string& name) const { return (m_dir / name).string(); }
    std::u16string path(const std::string& name) const {
        std::u16string p = text::fromUtf8(native(name));
        for (auto& c : p)
            if (c == u'/') c = u'\\';
        return p;
    }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(native(name), std::ios::binary) << bytes;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(native(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(m_dir / name); }
    size_t fileCount() const {
        return std::distance(std::filesystem::directory_iterator(m_dir), std::filesystem::directory_iterator());
    }

private:
    std::filesystem::path m_dir;
};

inline bool contains(const std::u16string& haystack, std::u16string_view needle) {
    return haystack.find(needle) != std::u16string::npos;
}

}  // namespace xmltest
