// Registry reads with query access only, 32-bit view (no view flag). Never writes.
#pragma once
#include <string>

namespace plat {

enum class Hive { LocalMachine, CurrentUser, ClassesRoot };

// Reads a value of any type as a wide string. valueName empty = the default value.
// Fails when the key or value is missing, or when the value (with its terminator)
// does not fit in bufferChars characters.
bool readRegistryString(Hive hive, const std::u16string& subKey, const std::u16string& valueName,
                        size_t bufferChars, std::u16string& value);

}  // namespace plat
