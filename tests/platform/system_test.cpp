#ifndef _WIN32
#include <sys/stat.h>
#endif
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/library.h"
#include "platform/system.h"
#include "text/text.h"
#include "support/fake_clock.h"
#include "support/host_sandbox.h"
#include "support/poll.h"

using namespace plat;

class System : public testsupport::HostTest {};

TEST_F(System, FoldersComeFromTheEnvironmentInCoreForm) {
#ifdef _WIN32
    GTEST_SKIP() << "the POSIX host takes these from the environment; Windows asks the shell and the system";
#endif
    EXPECT_EQ(appDataFolder(), agentPath("appdata"));
    setenv("APPDATA", (native("roaming") + "/").c_str(), 1);
    EXPECT_EQ(appDataFolder(), agentPath("roaming"));
    unsetenv("APPDATA");
    setenv("XDG_CONFIG_HOME", native("xdg").c_str(), 1);
    EXPECT_EQ(appDataFolder(), agentPath("xdg"));
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("WINDIR");
    EXPECT_EQ(windowsFolder(), u"\\etc");
    setenv("WINDIR", native("win").c_str(), 1);
    EXPECT_EQ(windowsFolder(), agentPath("win"));
    EXPECT_EQ(osMajorVersion(), 10);
    EXPECT_EQ(environmentVariable(u"WINDIR"), text::fromUtf8(native("win")));
    EXPECT_EQ(environmentVariable(u"OV_SURELY_UNSET_VARIABLE"), u"");
    std::u16string exe = executablePath();
    EXPECT_EQ(exe.substr(0, 1), u"\\");
    EXPECT_TRUE(fileExists(exe));
}

TEST_F(System, ShellExecuteStartsAFileWithoutRunBit) {
#ifdef _WIN32
    GTEST_SKIP() << "starts a shell script; Wine hands unknown file types to the desktop";
#else
    write("setup.sh", "#!/bin/sh\necho started > \"" + native("marker") + "\"\n");
    chmod(native("setup.sh").c_str(), 0644);
    ASSERT_TRUE(shellExecute(agentPath("setup.sh")));
    EXPECT_TRUE(testsupport::waitUntil([&] { return std::filesystem::exists(native("marker")); }));
    write("garbage.exe", "not a program");
    EXPECT_FALSE(shellExecute(agentPath("garbage.exe")));
    EXPECT_FALSE(shellExecute(agentPath("missing.exe")));
#endif
}

TEST_F(System, LibrariesLoadByPathAndFailCleanly) {
    EXPECT_EQ(loadLibrary(agentPath("missing.dll")), nullptr);
    write("bad.dll", "not a library");
    EXPECT_EQ(loadLibrary(agentPath("bad.dll")), nullptr);
#ifdef _WIN32
    LibraryHandle c = loadLibrary(u"kernel32.dll");
    ASSERT_NE(c, nullptr);
    EXPECT_NE(librarySymbol(c, "GetTickCount"), nullptr);
#else
    LibraryHandle c = loadLibrary(u"libc.so.6");
    ASSERT_NE(c, nullptr);
    EXPECT_NE(librarySymbol(c, "strlen"), nullptr);
#endif
    EXPECT_EQ(librarySymbol(c, "surely_not_exported_here"), nullptr);
    freeLibrary(c);
}

TEST(Clock, ReplaceableAndRestored) {
    {
        testsupport::FakeClock fake;
        plat::clock().sleepMs(16 * 60 * 1000);
        EXPECT_EQ(plat::clock().monotonicMs(), 16u * 60 * 1000);
        EXPECT_EQ(plat::clock().today().day, 7);
    }
    EXPECT_GE(plat::clock().today().year, 2024);
}

TEST(CodePages, DecodeTheCommonWindowsCodePages) {
    std::u16string out;
    ASSERT_TRUE(text::fromCodePage("\xD6\xD0\xCE\xC4", 936, out));
    EXPECT_EQ(out, u"中文");
    ASSERT_TRUE(text::fromCodePage(std::string("h\0i\0", 4), 1200, out));
    EXPECT_EQ(out, u"hi");
    ASSERT_TRUE(text::fromCodePage(std::string("\0h\0i", 4), 1201, out));
    EXPECT_EQ(out, u"hi");
    ASSERT_TRUE(text::fromCodePage("caf\xE9", 1252, out));
    EXPECT_EQ(out, u"café");
    ASSERT_TRUE(text::fromCodePage("\xE4\xB8\xAD", 65001, out));
    EXPECT_EQ(out, u"中");
#ifndef _WIN32  // Windows strips the eighth bit in US-ASCII
    ASSERT_TRUE(
        text::fromCodePage("a\xFF"
                           "b",
                           20127, out));  // invalid bytes become U+FFFD
    EXPECT_EQ(out,
              u"a\xFFFD"
              u"b");
#endif
    EXPECT_FALSE(text::fromCodePage("x", 4242, out));
#ifndef _WIN32  // the ANSI code page of Windows depends on the system locale
    EXPECT_EQ(text::fromAnsi(text::toAnsi(u"中文")), u"中文");
#endif
}
