// Initialisation files with the Windows private-profile semantics: sections and keys
// compared without regard to case, the first match wins, missing file or key gives the
// default, string results truncated to the buffer (bufferChars counts the terminator).
#pragma once
#include <string>

namespace plat {

int getProfileInt(const std::u16string& section, const std::u16string& key, int defaultValue,
                  const std::u16string& file);
std::u16string getProfileString(const std::u16string& section, const std::u16string& key,
                                const std::u16string& defaultValue, size_t bufferChars,
                                const std::u16string& file);
bool writeProfileString(const std::u16string& section, const std::u16string& key, const std::u16string& value,
                        const std::u16string& file);

}  // namespace plat
