// What the stand-in engine tells its tests: a journal of every call it receives, one line
// each, appended to the file named by PRISM_STANDIN_JOURNAL, and the step that should fail,
// named by PRISM_STANDIN_FAIL ("init", "task", "callback" or "start"). Without these
// variables the engine journals nothing and never fails on purpose.
#pragma once
#include <string>

namespace prism {

void journal(const std::string& line);
bool shouldFail(const char* step);

}  // namespace prism
