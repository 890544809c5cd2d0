// A linear look at a document's element nesting, so that a recursive parser never meets a
// document deep enough to exhaust its thread's stack.
#pragma once
#include <cstddef>
#include <string_view>

namespace decision {

// Deeper documents are refused before they are parsed: far beyond any real document, far
// below what a 1 MiB thread stack survives.
inline constexpr size_t kMaxNestingDepth = 256;

// True when no element lies deeper than maxDepth. Comments, CDATA sections, processing
// instructions and declarations do not count, nor does markup inside quoted attribute
// values; an element closed by "/>" opens no level.
bool nestingWithin(std::string_view text, size_t maxDepth = kMaxNestingDepth);

}  // namespace decision
