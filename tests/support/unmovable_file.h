// An installed file that cannot be moved aside while this lives, as a file some program
// holds open. On Windows it is held open without delete sharing. A POSIX host moves open
// files freely, so there its folder is made read-only instead, and immutable where root
// ignores that: every file of the folder is then unmovable.
#pragma once
#include <filesystem>

namespace testsupport {

class UnmovableFile {
public:
    explicit UnmovableFile(const std::filesystem::path& file);
    ~UnmovableFile();
    UnmovableFile(const UnmovableFile&) = delete;
    UnmovableFile& operator=(const UnmovableFile&) = delete;

    // False when this system would not stop the move (the test should then be skipped).
    bool held() const { return m_held; }
    void release();

private:
    std::filesystem::path m_folder;
    void* m_handle = nullptr;  // Windows: the open file
    bool m_immutable = false;  // POSIX: the folder's flag was set
    bool m_held = false;
};

}  // namespace testsupport
