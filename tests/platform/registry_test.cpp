#include "platform/registry.h"
#include "support/file_io.h"
#include "support/host_sandbox.h"

using namespace plat;

namespace {
const char* kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
const char16_t* kAppPaths = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe";
}  // namespace

class Registry : public testsupport::HostTest {
protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "the POSIX registry file; win32_registry_test reads the Windows registry";
#endif
    }
    void writeRegistry(const std::string& text) { testsupport::writeFile(registry().file(), text); }
    bool get(Hive hive, const std::u16string& key, const std::u16string& name, std::u16string& value,
             size_t chars = 520) {
        return readRegistryString(hive, key, name, chars, value);
    }
};

TEST_F(Registry, ReadsDefaultAndNamedValues) {
    writeRegistry(std::string("\xEF\xBB\xBF") + kHeader +
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe]\r\n"
                  "@=\"\\\\home\\\\me\\\\player\\\\Orvix.exe\"\r\n"
                  "\"Path\" = \"say \\\"hi\\\"\"\r\n\r\n"
                  "[HKCU\\Kavo.FDS]\r\n\"area\"=\"\xE5\x8D\x8E\xE5\x8C\x97\"\r\n\"count\"=dword:00000010\r\n"
                  "\"blob\"=hex:01,02,\\\r\n  03,04\r\n"
                  "[HKEY_CLASSES_ROOT\\NimboProxy]\r\n@=\"x\"\r\n");
    std::u16string v;
    ASSERT_TRUE(get(Hive::LocalMachine, kAppPaths, u"", v));
    EXPECT_EQ(v, u"\\home\\me\\player\\Orvix.exe");
    ASSERT_TRUE(get(Hive::LocalMachine, u"software\\MICROSOFT\\windows\\CurrentVersion\\App Paths\\orvix.exe\\",
                    u"path", v));
    EXPECT_EQ(v, u"say \"hi\"");
    ASSERT_TRUE(get(Hive::CurrentUser, u"Kavo.FDS", u"area", v));
    EXPECT_EQ(v, u"华北");
    ASSERT_TRUE(get(Hive::CurrentUser, u"Kavo.FDS", u"count", v));
    EXPECT_EQ(v, u"dword:00000010");
    ASSERT_TRUE(get(Hive::CurrentUser, u"Kavo.FDS", u"blob", v));
    EXPECT_EQ(v, u"hex:01,02,03,04");
    ASSERT_TRUE(get(Hive::ClassesRoot, u"NimboProxy", u"", v));
    EXPECT_EQ(v, u"x");

    EXPECT_FALSE(get(Hive::CurrentUser, u"Kavo.FDS", u"", v));          // no default value
    EXPECT_FALSE(get(Hive::LocalMachine, u"Kavo.FDS", u"area", v));     // other hive
    EXPECT_FALSE(get(Hive::CurrentUser, u"Kavo", u"area", v));          // other key
    EXPECT_FALSE(get(Hive::CurrentUser, u"Kavo.FDS", u"province", v));  // other value
}

TEST_F(Registry, ValueMustFitTheBufferWithItsTerminator) {
    writeRegistry(std::string(kHeader) + "[HKCU\\K]\n\"v\"=\"abcd\"\n");
    std::u16string v = u"unchanged";
    EXPECT_FALSE(get(Hive::CurrentUser, u"K", u"v", v, 4));
    EXPECT_EQ(v, u"unchanged");
    EXPECT_TRUE(get(Hive::CurrentUser, u"K", u"v", v, 5));
    EXPECT_EQ(v, u"abcd");
}

TEST_F(Registry, MalformedFilesAnswerNothing) {
    std::u16string v;
    EXPECT_FALSE(get(Hive::CurrentUser, u"K", u"v", v));  // no file
    const std::string good = std::string(kHeader) + "[HKCU\\K]\n\"v\"=\"abcd\"\n";
    writeRegistry(good);
    ASSERT_TRUE(get(Hive::CurrentUser, u"K", u"v", v));
    for (size_t cut = 0; cut < good.size(); ++cut) {
        writeRegistry(good.substr(0, cut));
        get(Hive::CurrentUser, u"K", u"v", v);  // must not crash, whatever it answers
    }
    writeRegistry(good.substr(0, good.size() - 3));  // inside the string
    EXPECT_FALSE(get(Hive::CurrentUser, u"K", u"v", v));
    writeRegistry("[HKCU\\K]\n\"v\"=\"abcd\"\n");  // no header
    EXPECT_FALSE(get(Hive::CurrentUser, u"K", u"v", v));
    writeRegistry(std::string(kHeader) + "[HKCU\\K]\ngarbage line\n\"v\"=\"abcd\"\n");
    EXPECT_FALSE(get(Hive::CurrentUser, u"K", u"v", v));
    writeRegistry(std::string(kHeader) + "[HKCU\\K]\n\"v\"=\"abcd\"\n" + std::string(17 << 20, ';'));
    EXPECT_FALSE(get(Hive::CurrentUser, u"K", u"v", v));
}

TEST_F(Registry, DefaultFileLivesInTheApplicationDataFolder) {
    unsetenv("OVUPDATE_REGISTRY");
    write("appdata/OvUpdate.registry.reg", std::string(kHeader) + "[HKLM\\S]\n@=\"d\"\n");
    std::u16string v;
    ASSERT_TRUE(get(Hive::LocalMachine, u"S", u"", v));
    EXPECT_EQ(v, u"d");
}
