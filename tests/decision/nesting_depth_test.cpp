#include "decision/nesting_depth.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decision/update_document.h"

namespace {

std::string nested(size_t depth, const std::string& inner = "") {
    std::string text;
    for (size_t i = 0; i < depth; ++i) text += "<a>";
    text += inner;
    for (size_t i = 0; i < depth; ++i) text += "</a>";
    return text;
}

}  // namespace

TEST(NestingDepth, OnlyOpenElementsCount) {
    struct Case {
        const char* name;
        std::string text;
        bool within;
    };
    const Case cases[] = {
        {"at the limit", nested(4), true},
        {"one beyond", nested(5), false},
        {"never closed", "<a><a><a><a><a>", false},
        {"siblings", "<r>" + std::string(100, ' ') + "<a/><a></a><a x='1'/></r>", true},
        {"comments, CDATA, declarations", nested(4, "<!-- <a><a> --><![CDATA[<a><a>]]><?pi <a>?><!DOCTYPE a>"),
         true},
        {"markup in quoted values", nested(4, "<b v='<a><a>' w=\"/>\"/>"), true},
        {"closing tags do not go below zero", "</a></a>" + nested(4), true},
    };
    for (const Case& c : cases) EXPECT_EQ(decision::nestingWithin(c.text, 4), c.within) << c.name;
}

// A document far deeper than any thread stack survives is refused, not parsed.
TEST(NestingDepth, DeepDocumentsAreRefusedBeforeParsing) {
    std::vector<decision::DocumentItem> items;
    EXPECT_TRUE(
        decision::parseUpdateDocument("<info>" + nested(decision::kMaxNestingDepth - 1) + "</info>", items));
    for (size_t depth : {decision::kMaxNestingDepth + 1, size_t{1000000}}) {
        EXPECT_FALSE(decision::parseUpdateDocument(nested(depth), items)) << depth;
        std::string unclosed;
        for (size_t i = 0; i < depth; ++i) unclosed += "<a>";
        EXPECT_FALSE(decision::parseUpdateDocument(unclosed, items)) << depth;
    }
}
