// Bytes of a document file <-> document text (UTF-16), with the byte-order-mark and
// encoding rules of XmlDocument::loadFile and saveFile. No file access here.
#pragma once
#include <string>
#include <string_view>

#include "xml/result_log.h"

namespace xml {

// markFlags receives XmlDocument::kUtf8Mark, kUtf16LittleEndian or kUtf16BigEndian when the
// bytes start with that mark. False (with a "file_error" record) when the bytes are in a
// code page this host cannot decode.
bool decodeFileBytes(std::string_view bytes, std::u16string& text, unsigned& markFlags, ResultLog& log);

// The bytes saveFile writes for text. False (with a "file_error" record) when the declared
// code page has no encoder here.
bool encodeFileBytes(std::u16string_view text, unsigned markFlags, std::string& bytes, ResultLog& log);

// True when bytes are well-formed UTF-8 (no overlong forms, surrogates or codes past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

}  // namespace xml
