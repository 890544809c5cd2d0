// A small XML document: the whole text kept as one UTF-16 string plus an index of where
// each element starts and ends. A current position moves through the elements; attributes
// and elements are edited in the text itself, so saving writes back exactly what was read
// plus the edits.
//
// Reading is tolerant: a document that is not well formed is still indexed as far as it
// goes, and every problem becomes a record in resultText() instead of an error. Nothing
// here throws.
//
// Typical reads:
//     XmlDocument doc(text);                     // or doc.loadFile(path)
//     if (doc.findElement(u"update") && doc.enterElement() && doc.findElement(u"exeupdate"))
//         version = doc.readAttribute(u"version");
//     while (doc.findElement(u"File")) name = doc.getElementText();   // next sibling each time
//
// Typical writes:
//     XmlDocument doc(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
//     doc.addElement(u"root"); doc.enterElement();
//     doc.addElement(u"File"); doc.setAttribute(u"md5", digest);
//     doc.leaveElement(); doc.saveFile(path);
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "xml/element_index.h"
#include "xml/result_log.h"

class XmlDocument {
public:
    // Flags of addElement.
    static constexpr unsigned kCdata = 0x1;           // write the value as a CDATA section
    static constexpr unsigned kKeepReferences = 0x2;  // copy "&name;" in the value unchanged

    // Byte-order marks that loadFile found and saveFile writes again.
    static constexpr unsigned kUtf16LittleEndian = 0x01;
    static constexpr unsigned kUtf8Mark = 0x04;
    static constexpr unsigned kUtf16BigEndian = 0x80;

    // Files larger than this are refused by loadFile and loadBytes ("file_error").
    static constexpr uint64_t kMaxFileBytes = 32u << 20;

    XmlDocument();                                   // empty text, no elements
    explicit XmlDocument(std::u16string_view text);  // parsed from text

    // Replaces the text and indexes it; positions go back to before the root. True iff the
    // document is well formed: no unmatched or unclosed tag, no malformed tag, exactly one
    // top-level element.
    bool parseText(std::u16string_view text);

    // Reads a file: byte-order mark (UTF-8, UTF-16LE, UTF-16BE), else the encoding the
    // declaration or an HTML meta tag names, else UTF-8 when valid, else the ANSI code page.
    // False when the file cannot be read or decoded, or the document is not well formed
    // (the indexed part is still navigable then).
    bool loadFile(const std::u16string& path);
    // The same from a file's bytes already in memory: a document that was checked (its
    // signature) is read from exactly the bytes that were checked, not from the file again.
    bool loadBytes(std::string_view bytes);

    // Writes the text: UTF-16 with its mark when the document was read from UTF-16,
    // otherwise the declared encoding (UTF-8 when none), with the UTF-8 mark when the file
    // had one. The file is replaced whole or not at all.
    bool saveFile(const std::u16string& path);

    // Moves to the next element called name (exact, letter case counts) among the siblings
    // after the current element, or from the first child of the entered element when there
    // is no current one; an empty name takes the next element of any name. False leaves the
    // position unchanged.
    bool findElement(std::u16string_view name);
    // Makes the current element the one whose children findElement walks.
    bool enterElement();
    // Goes back up: the entered element becomes the current element again.
    bool leaveElement();

    // Name of the current element; empty when there is none.
    std::u16string elementName() const;
    // Value of an attribute of the current element, references resolved; empty when the
    // attribute or the current element is missing.
    std::u16string readAttribute(std::u16string_view name) const;
    // Character data directly inside the current element, references resolved and CDATA
    // sections taken as written; empty for an empty element.
    std::u16string getElementText() const;

    // Inserts <name/> (empty value) or <name>value</name> after the current element, or at
    // the end of the entered element (at the top level: the end of the text), and makes it
    // the current element. False for a name that is not a plain XML name.
    bool addElement(std::u16string_view name, std::u16string_view value = {}, unsigned flags = 0);
    // Sets (replaces or adds) an attribute of the current element; the value is escaped.
    bool setAttribute(std::u16string_view name, std::u16string_view value);

    const std::u16string& text() const { return m_text; }
    // Records of the last parse, load or save, as a run of empty XML elements.
    const std::u16string& resultText() const { return m_results.text(); }
    unsigned documentFlags() const { return m_docFlags; }

private:
    bool parse();  // indexes m_text, adding to the records already there
    bool decodeAndParse(std::string_view bytes, bool read);
    void resetPositions();
    std::u16string_view nameOf(uint32_t element) const;
    std::u16string_view startTagOf(uint32_t element) const;
    uint32_t lastChildOf(uint32_t element) const;
    void splice(uint32_t pos, uint32_t oldLength, std::u16string_view replacement, uint32_t owner);
    void openEmptyElement(uint32_t element);

    std::u16string m_text;
    xml::ResultLog m_results;
    // Entry 0 stands for the document; its children are the top-level elements.
    xml::ElementIndex m_index;
    bool m_indexInTextOrder = true;  // entries sorted by start, as parsing leaves them
    uint32_t m_parent = 0;           // element whose children are walked (0: top level)
    uint32_t m_main = 0;             // current element (0: none)
    uint32_t m_child = 0;            // element left by leaveElement (0: none)
    unsigned m_docFlags = 0;
};
