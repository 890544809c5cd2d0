// Loading and saving documents through the platform's files.
#include "platform/files.h"
#include "xml/file_codec.h"
#include "xml/xml_document.h"

namespace {

bool readFile(const std::u16string& path, std::string& bytes, xml::ResultLog& log) {
    auto file = plat::openFile(path, plat::OpenMode::ReadShared);
    uint64_t fileSize = 0;
    if (!file || !file->size(fileSize)) {
        log.add(u"file_error", u"msg", u"cannot open " + path);
        return false;
    }
    if (fileSize > XmlDocument::kMaxFileBytes) {
        log.add(u"file_error", u"msg", u"file too large: " + path);
        return false;
    }
    const size_t size = static_cast<size_t>(fileSize);  // within the limit, so a size
    bytes.resize(size);
    size_t got = 0;
    while (got < size) {
        int64_t n = file->read(bytes.data() + got, size - got);
        if (n < 0) {
            log.add(u"file_error", u"msg", u"cannot read " + path);
            return false;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    if (got < size) {  // the file shrank while it was read
        log.add(u"truncation_error", {}, {}, u"length", static_cast<int64_t>(got));
        bytes.resize(got);
    }
    return true;
}

}  // namespace

bool XmlDocument::loadFile(const std::u16string& path) {
    m_results.clear();
    std::string bytes;
    bool read = readFile(path, bytes, m_results);
    return decodeAndParse(bytes, read);
}

bool XmlDocument::loadBytes(std::string_view bytes) {
    m_results.clear();
    bool withinLimit = bytes.size() <= kMaxFileBytes;
    if (!withinLimit) m_results.add(u"file_error", u"msg", u"document too large");
    return decodeAndParse(bytes, withinLimit);
}

bool XmlDocument::decodeAndParse(std::string_view bytes, bool read) {
    m_text.clear();
    m_docFlags = 0;
    std::u16string text;
    unsigned flags = 0;
    if (!read || !xml::decodeFileBytes(bytes, text, flags, m_results)) {
        parse();  // an empty document, without records of its own
        return false;
    }
    m_text = std::move(text);
    m_docFlags = flags;
    return parse();
}

bool XmlDocument::saveFile(const std::u16string& path) {
    m_results.clear();
    std::string bytes;
    if (!xml::encodeFileBytes(m_text, m_docFlags, bytes, m_results)) return false;
    // Written beside the target and moved over it, so a failed write never leaves a
    // half-written document under the real name.
    const std::u16string temporary = path + u".tmp";
    if (!plat::writeWholeFile(temporary, bytes) || !plat::moveFile(temporary, path, true)) {
        plat::deleteFile(temporary);
        m_results.add(u"file_error", u"msg", u"cannot write " + path);
        return false;
    }
    m_results.add(u"write", {}, {}, u"length", static_cast<int64_t>(bytes.size()));
    return true;
}
