// A fresh folder under the system's temporary folder, removed with everything in it when
// the object ends (kept when OV_KEEP_SANDBOX is set, to look at after a failure).
#pragma once
#include <filesystem>
#include <string>

namespace testsupport {

namespace fs = std::filesystem;

// A path as the agent writes it: "\" separators only ("/tmp/a/b" gives "\tmp\a\b").
std::u16string agentPath(const fs::path& path);

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const fs::path& path() const { return m_root; }
    // A path below the folder ("a/b" names a file in a subfolder), in the system's form
    // and in the agent's.
    std::string native(const std::string& relative = "") const;
    std::u16string agentPath(const std::string& relative = "") const;

    // Whole files below the folder; write creates the missing folders.
    void write(const std::string& relative, const std::string& bytes) const;
    std::string read(const std::string& relative) const;

private:
    fs::path at(const std::string& relative) const;

    fs::path m_root;
};

}  // namespace testsupport
