// Whole-file reads and writes of the tests' fixtures and results.
#pragma once
#include <filesystem>
#include <string>

namespace testsupport {

// The file's bytes; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);
// Replaces the file's content, creating the folders on the way.
void writeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace testsupport
