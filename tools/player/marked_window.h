// The player's marked window: a top-level window carrying the player's mark, which the
// agent finds when it tells the player about a new version. It prints each message it gets.
#pragma once
#include <ostream>

// OrvixPlayer window [--minimized] [--hidden] [--mark NAME] [--for SECONDS]
// args are the words after "window". Returns the process exit code.
int runMarkedWindow(int argc, char** argv, std::ostream& out);
