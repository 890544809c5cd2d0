// The stand-in player's command line: its usage text, the one-line error that goes with
// it, and the whole numbers its options take.
#pragma once
#include <string>

// Prints "OrvixPlayer: MESSAGE" and the usage text to standard error; returns the exit
// code of a bad command line, 1.
int argumentError(const std::string& message);

// A whole non-negative decimal number, nothing else; false for "", "x", "-1", "3s".
bool parseCount(const std::string& text, long& value);
