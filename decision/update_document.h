// Reading the update-information document into records. The parser's tree and buffer
// live only as long as the reading; the walk works on the records.
#pragma once
#include <string>
#include <vector>

#include "decision/update_records.h"

namespace decision {

// False when the text is not well formed or has no root element. Names of elements and
// attributes are matched without regard to letter case; a repeated attribute's later
// value wins; children of the root with other names are left out.
bool parseUpdateDocument(const std::string& text, std::vector<DocumentItem>& items);

// The downloaded text as the parser gets it: without a UTF-8 byte-order mark and without
// anything after the last ">" (a text of 4 bytes or less is left as it is).
std::string cleanDocumentBody(const std::string& body);

}  // namespace decision
