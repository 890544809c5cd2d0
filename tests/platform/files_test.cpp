#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <fstream>

#include "platform/files.h"
#include "support/host_sandbox.h"

using namespace plat;

class Files : public testsupport::HostTest {};

TEST_F(Files, NamesThatDoNotExistAsWrittenResolveWithoutRegardToCase) {
    std::filesystem::create_directories(native("Player/Sub"));
    write("Player/Sub/Setup.exe", "x");
    EXPECT_TRUE(fileExists(agentPath("PLAYER\\sub\\SETUP.EXE")));
    EXPECT_TRUE(directoryExists(agentPath("player\\SUB")));
#ifndef _WIN32  // Windows itself ignores the letter case: the native path is the path
    EXPECT_EQ(nativePath(agentPath("player\\sub\\new.txt")), native("Player/Sub/new.txt"));
#endif
    EXPECT_TRUE(deleteFile(agentPath("PLAYER\\SUB\\SETUP.EXE")));
    EXPECT_FALSE(std::filesystem::exists(native("Player/Sub/Setup.exe")));
    EXPECT_FALSE(fileExists(u""));
}

TEST_F(Files, AttributesFollowTheWindowsWords) {
    std::filesystem::create_directories(native("dir"));
    write("f.txt", "abc");
    uint32_t a = 0;
    ASSERT_TRUE(fileAttributes(agentPath("dir"), a));
    EXPECT_EQ(a, kAttributeDirectory);
    ASSERT_TRUE(fileAttributes(agentPath("f.txt"), a));
    EXPECT_EQ(a & (kAttributeDirectory | kAttributeReadOnly), 0u);
    EXPECT_FALSE(fileAttributes(agentPath("missing"), a));

    // Read-only files resist deletion and replacement until made normal again, also for root.
    ASSERT_TRUE(setFileAttributes(agentPath("f.txt"), kAttributeReadOnly));
    ASSERT_TRUE(fileAttributes(agentPath("f.txt"), a));
    EXPECT_TRUE(a & kAttributeReadOnly);
    EXPECT_FALSE(deleteFile(agentPath("f.txt")));
    write("g.txt", "g");
#ifndef _WIN32  // Windows refuses both, but Wine run by root writes over read-only files
    EXPECT_FALSE(writeWholeFile(agentPath("f.txt"), "new"));
    EXPECT_FALSE(moveFile(agentPath("g.txt"), agentPath("f.txt"), true));
#endif
    ASSERT_TRUE(setFileAttributes(agentPath("f.txt"), kAttributeNormal));
    EXPECT_TRUE(deleteFile(agentPath("f.txt")));
    EXPECT_FALSE(deleteFile(agentPath("dir")));
}

TEST_F(Files, MoveReplacesOnlyWhenAsked) {
    write("a", "A");
    write("b", "B");
    EXPECT_FALSE(moveFile(agentPath("a"), agentPath("b"), false));
    EXPECT_EQ(read("b"), "B");
    EXPECT_TRUE(moveFile(agentPath("a"), agentPath("b"), true));
    EXPECT_EQ(read("b"), "A");
    EXPECT_TRUE(moveFile(agentPath("b"), agentPath("c"), false));
    EXPECT_FALSE(fileExists(agentPath("b")));
    // A change of letter case only is a rename of the same file.
    EXPECT_TRUE(moveFile(agentPath("c"), agentPath("C"), false));
    EXPECT_TRUE(std::filesystem::exists(native("C")));
    EXPECT_FALSE(moveFile(agentPath("missing"), agentPath("d"), true));
}

TEST_F(Files, DirectoriesAndListing) {
    EXPECT_TRUE(createDirectoryTree(agentPath("x\\y\\z")));
    EXPECT_TRUE(createDirectoryTree(agentPath("x\\y\\z")));  // already there
    EXPECT_FALSE(createDirectory(agentPath("X")));           // exists under another case
    EXPECT_TRUE(createDirectory(agentPath("x\\w")));
    write("x/b.txt", "1");
    write("x/A.txt", "22");
    std::vector<DirEntry> entries;
    ASSERT_TRUE(listDirectory(agentPath("x"), entries));
    std::vector<std::u16string> names;
    for (const auto& e : entries) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u".", u"..", u"A.txt", u"b.txt", u"w", u"y"}));
    EXPECT_TRUE(entries[0].isDirectory);
    EXPECT_FALSE(entries[2].isDirectory);
    EXPECT_TRUE(entries[5].attributes & kAttributeDirectory);
    EXPECT_FALSE(listDirectory(agentPath("nothing"), entries));
    EXPECT_FALSE(removeDirectory(agentPath("x\\y")));  // not empty
    EXPECT_TRUE(removeDirectory(agentPath("x\\w")));
}

TEST_F(Files, WholeFilesCopiesAndSizes) {
    auto entries = [&] { return std::distance(std::filesystem::directory_iterator(path()), {}); };
    const auto before = entries();
    std::string bytes("a\0b\xff", 4);
    ASSERT_TRUE(writeWholeFile(agentPath("data.bin"), bytes));
    std::string back;
    ASSERT_TRUE(readWholeFile(agentPath("data.bin"), back));
    EXPECT_EQ(back, bytes);
    ASSERT_TRUE(copyFile(agentPath("data.bin"), agentPath("copy.bin")));
    EXPECT_EQ(read("copy.bin"), bytes);
    uint64_t size = 0;
    ASSERT_TRUE(fileSize(agentPath("copy.bin"), size));
    EXPECT_EQ(size, 4u);
    EXPECT_FALSE(writeWholeFile(agentPath("nofolder\\x"), "x"));
    // Nothing but the written files is left behind (no temporary files).
    EXPECT_EQ(entries(), before + 2);
    ASSERT_TRUE(setFileTimes(agentPath("data.bin"), {900000000, 950000000, 1000000000}));
    EXPECT_EQ(std::filesystem::last_write_time(native("data.bin")).time_since_epoch().count() != 0, true);
}

TEST_F(Files, ExclusiveOpenFailsWhileAnotherHolderHasTheFile) {
    write("locked", "content");
#ifdef _WIN32  // a holder that shares reading and writing, as the C runtime opens files
    auto holder = std::make_unique<std::ifstream>(native("locked"), std::ios::binary);
    ASSERT_TRUE(holder->is_open());
#else
    int fd = ::open(native("locked").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_SH), 0);
#endif
    EXPECT_EQ(openFile(agentPath("locked"), OpenMode::ReadExclusive), nullptr);
    EXPECT_NE(openFile(agentPath("locked"), OpenMode::ReadShared), nullptr);
#ifdef _WIN32
    holder.reset();
#else
    ::close(fd);
#endif

    auto file = openFile(agentPath("locked"), OpenMode::ReadExclusive);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(openFile(agentPath("locked"), OpenMode::ReadExclusive), nullptr);  // we hold it now
    char buffer[16];
    EXPECT_EQ(file->read(buffer, sizeof buffer), 7);
    EXPECT_EQ(file->read(buffer, sizeof buffer), 0);
    file.reset();
    EXPECT_NE(openFile(agentPath("locked"), OpenMode::ReadExclusive), nullptr);

    auto out = openFile(agentPath("new"), OpenMode::WriteTruncate);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(out->write("hello", 5));
    uint64_t size = 0;
    EXPECT_TRUE(out->size(size) && size == 5);
    EXPECT_EQ(openFile(agentPath("absent"), OpenMode::ReadWrite), nullptr);
    std::filesystem::create_directories(native("folder"));
    EXPECT_EQ(openFile(agentPath("folder"), OpenMode::ReadShared), nullptr);
}

TEST_F(Files, BareNamesAreRelativeToTheWorkingFolder) {
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(path());
    EXPECT_TRUE(writeWholeFile(u"Copy.xml", "<a/>"));
    EXPECT_TRUE(fileExists(u"copy.XML"));
    std::filesystem::current_path(previous);
    EXPECT_EQ(read("Copy.xml"), "<a/>");
}

TEST_F(Files, SpecialFilesAreRefusedWithoutWaiting) {
#ifdef _WIN32
    GTEST_SKIP() << "FIFOs and device files are POSIX files";
#else
    ASSERT_EQ(mkfifo(native("fifo").c_str(), 0644), 0);
    std::string bytes;
    EXPECT_FALSE(readWholeFile(agentPath("fifo"), bytes));
    EXPECT_EQ(openFile(agentPath("fifo"), OpenMode::ReadShared), nullptr);
    EXPECT_FALSE(copyFile(agentPath("fifo"), agentPath("copy")));
    EXPECT_FALSE(readWholeFile(u"\\dev\\zero", bytes));
#endif
}

TEST(Paths, CanonicalFormAndContainment) {
    EXPECT_EQ(parentFolder(u"\\a\\b\\c.txt"), u"\\a\\b");
    EXPECT_EQ(parentFolder(u"c.txt"), u"");
    EXPECT_EQ(fileNameOf(u"\\a\\b\\c.txt"), u"c.txt");
    EXPECT_EQ(canonicalPath(u"/a//b/./c/../d"), u"\\a\\b\\d");
    EXPECT_EQ(canonicalPath(u"\\a\\..\\..\\b"), u"\\b");
    EXPECT_EQ(canonicalPath(u"C:\\x\\..\\..\\y"), u"C:\\y");
    EXPECT_EQ(canonicalPath(u"..\\a"), u"..\\a");
    EXPECT_EQ(canonicalPath(u"\\a\\b\\"), u"\\a\\b\\");

    EXPECT_TRUE(isInsideFolder(u"\\p\\OvUpdate\\x.dll", u"\\p"));
    EXPECT_TRUE(isInsideFolder(u"\\P\\sub\\x.dll", u"\\p\\"));
    EXPECT_FALSE(isInsideFolder(u"\\p\\..\\q\\x.dll", u"\\p"));
    EXPECT_FALSE(isInsideFolder(u"\\player2\\x", u"\\player"));
    EXPECT_FALSE(isInsideFolder(u"\\p", u"\\p"));
    EXPECT_TRUE(isInsideFolder(u"\\p\\.", u"\\p", true));
    EXPECT_FALSE(isInsideFolder(u"x", u""));
}
