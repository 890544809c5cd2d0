// libFuzzer target: the update-information document read into records from arbitrary
// bytes, after the cleaning the downloaded text gets. Besides "no crash, no hang, no stack
// exhaustion", it checks that a document the nesting check lets through parses the same
// whether or not it is checked again, and that every record it yields is one of its kinds.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "decision/nesting_depth.h"
#include "decision/update_document.h"

#define check(condition)                                  \
    if (!(condition)) {                                   \
        std::fprintf(stderr, "broken: %s\n", #condition); \
        std::abort();                                     \
    }

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    std::string body(reinterpret_cast<const char*>(data), size);
    std::string text = decision::cleanDocumentBody(body);
    std::vector<decision::DocumentItem> items;
    bool parsed = decision::parseUpdateDocument(text, items);
    if (!decision::nestingWithin(text)) check(!parsed);
    if (!parsed) check(items.empty());
    for (const decision::DocumentItem& item : items) {
        using Kind = decision::DocumentItem::Kind;
        check(item.kind == Kind::Domains || item.kind == Kind::Paths || item.kind == Kind::ClientPath ||
              item.kind == Kind::RecentFiles || item.kind == Kind::Update);
        if (item.kind == Kind::ClientPath) check(item.texts.size() == 1);
    }
    return 0;
}
