// libFuzzer target: a document read from arbitrary bytes, then a script of navigation and
// edits taken from the same input. Besides "no crash, no hang", it checks what must hold
// for any input: values written are read back unchanged, and after editing a well-formed
// document its index describes the text exactly as a fresh parse does.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "xml/file_codec.h"
#include "xml/xml_document.h"

namespace {

#define check(condition)                                  \
    if (!(condition)) {                                   \
        std::fprintf(stderr, "broken: %s\n", #condition); \
        std::abort();                                     \
    }

std::u16string outline(XmlDocument& doc) {
    std::u16string out;
    while (doc.findElement(u"")) {
        out += doc.elementName();
        doc.enterElement();
        out += u'(' + outline(doc) + u')';
        doc.leaveElement();
    }
    return out;
}

// Element names in the text, so that finds and edits hit real elements.
std::vector<std::u16string> namesIn(const std::u16string& text) {
    std::vector<std::u16string> names = {u"root", u"File", u"a"};
    for (size_t lt = text.find(u'<'); lt != std::u16string::npos && names.size() < 16;
         lt = text.find(u'<', lt + 1)) {
        size_t end = lt + 1;
        while (end < text.size() && end - lt < 12 && text[end] > u' ' && text[end] != u'/' && text[end] != u'>')
            ++end;
        if (end > lt + 1) names.push_back(text.substr(lt + 1, end - lt - 1));
    }
    return names;
}

// The edited document, walked from its top-level element onwards, must match the same
// stretch of a fresh parse of its text (elements before the one it stands on are out of
// reach of a walk that cannot go back).
void checkIndexAgainstFreshParse(const XmlDocument& edited) {
    XmlDocument walk = edited;
    while (walk.leaveElement()) {
    }
    XmlDocument fresh(edited.text());
    std::u16string expected = outline(fresh);
    std::u16string actual;
    if (!walk.elementName().empty()) {
        actual = walk.elementName();
        walk.enterElement();
        actual += u'(' + outline(walk) + u')';
        walk.leaveElement();
    }
    actual += outline(walk);
    check(expected.size() >= actual.size() &&
          expected.compare(expected.size() - actual.size(), actual.size(), actual) == 0)
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint8_t mode = input.ConsumeIntegral<uint8_t>();
    const uint64_t script = input.ConsumeIntegral<uint64_t>();
    std::string bytes = input.ConsumeRemainingBytesAsString();

    std::u16string text;
    if (mode & 1) {  // the bytes as a file
        unsigned flags = 0;
        xml::ResultLog log;
        xml::decodeFileBytes(bytes, text, flags, log);
        if (flags & (XmlDocument::kUtf16LittleEndian | XmlDocument::kUtf16BigEndian)) {
            std::string encoded;
            std::u16string again;
            unsigned flagsAgain = 0;
            check(xml::encodeFileBytes(text, flags, encoded, log))
                xml::decodeFileBytes(encoded, again, flagsAgain, log);
            check(again == text && flagsAgain == flags)
        }
    } else {  // the bytes as UTF-16 code units, lone surrogates and all
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            text +=
                static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8);
    }

    XmlDocument doc;
    const bool wellFormed = doc.parseText(text);
    const std::vector<std::u16string> names = namesIn(text);
    const std::u16string value = text.substr(0, (script >> 56) & 0x3F);
    bool edited = false;
    for (int step = 0; step < 18; ++step) {
        const unsigned op = (script >> (3 * step)) & 7;
        const std::u16string& name = names[(script >> (step + 8)) % names.size()];
        switch (op) {
            case 0: doc.findElement(u""); break;
            case 1: doc.findElement(name); break;
            case 2: doc.enterElement(); break;
            case 3: doc.leaveElement(); break;
            case 4:
                doc.readAttribute(name);
                doc.getElementText();
                break;
            case 5: {
                const unsigned flags = (mode >> 1) & XmlDocument::kCdata;
                if (doc.addElement(name, value, flags)) {
                    check(doc.elementName() == name && doc.getElementText() == value) edited = true;
                }
                break;
            }
            case 6:
                if (doc.setAttribute(name, value)) {
                    check(doc.readAttribute(name) == value) edited = true;
                }
                break;
            case 7:
                doc.leaveElement();
                doc.findElement(u"");
                break;
        }
    }
    if (wellFormed && edited) checkIndexAgainstFreshParse(doc);
    return 0;
}
