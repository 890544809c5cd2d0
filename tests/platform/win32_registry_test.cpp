// The Win32 registry backend against the system registry.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <string>

#include "platform/proxy_config.h"
#include "platform/registry.h"
#include "text/text.h"

using plat::Hive;

namespace {

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// A scratch key, removed with everything below it afterwards.
class Win32Registry : public ::testing::Test {
protected:
    void SetUp() override {
        m_subKey = u"Software\\OvUpdateTests\\" + text::fromInt(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, w(m_subKey), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key,
                                  nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(m_key);
        RegDeleteTreeW(HKEY_CURRENT_USER, w(m_subKey));
    }
    void set(const wchar_t* name, DWORD type, const void* data, size_t bytes) {
        ASSERT_EQ(RegSetValueExW(m_key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes)),
                  ERROR_SUCCESS);
    }
    void setText(const wchar_t* name, const std::wstring& value, bool terminated = true) {
        set(name, REG_SZ, value.c_str(), (value.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
    }
    bool get(const std::u16string& name, std::u16string& value, size_t chars = 520) {
        return plat::readRegistryString(Hive::CurrentUser, m_subKey, name, chars, value);
    }

    std::u16string m_subKey;
    HKEY m_key = nullptr;
};

}  // namespace

TEST_F(Win32Registry, ReadsDefaultAndNamedValuesOfAnyTypeAsText) {
    setText(nullptr, L"C:\\Program Files\\Orvix\\Orvix.exe");
    setText(L"area", L"\x534e\x5317");
    std::wstring expand = L"%APPDATA%\\x";
    set(L"expand", REG_EXPAND_SZ, expand.c_str(), (expand.size() + 1) * sizeof(wchar_t));
    DWORD number = 0x00340031;  // the bytes 31 00 34 00 read as wide text: "14"
    set(L"number", REG_DWORD, &number, sizeof(number));

    std::u16string v;
    ASSERT_TRUE(get(u"", v));
    EXPECT_EQ(v, u"C:\\Program Files\\Orvix\\Orvix.exe");
    ASSERT_TRUE(get(u"AREA", v));
    EXPECT_EQ(v, u"华北");
    ASSERT_TRUE(get(u"expand", v));
    EXPECT_EQ(v, u"%APPDATA%\\x");  // never expanded
    ASSERT_TRUE(get(u"number", v));
    EXPECT_EQ(v, u"14");

    v = u"unchanged";
    EXPECT_FALSE(get(u"missing", v));
    EXPECT_FALSE(plat::readRegistryString(Hive::CurrentUser, m_subKey + u"\\none", u"", 520, v));
    EXPECT_FALSE(plat::readRegistryString(Hive::LocalMachine, m_subKey, u"area", 520, v));
    EXPECT_EQ(v, u"unchanged");
}

TEST_F(Win32Registry, ValueMustFitTheBufferWithItsTerminator) {
    setText(L"terminated", L"abcd");
    setText(L"bare", L"abcd", false);
    std::u16string v = u"unchanged";
    EXPECT_FALSE(get(u"terminated", v, 4));
    EXPECT_FALSE(get(u"bare", v, 4));
    EXPECT_EQ(v, u"unchanged");
    ASSERT_TRUE(get(u"terminated", v, 5));
    EXPECT_EQ(v, u"abcd");
    ASSERT_TRUE(get(u"bare", v, 5));
    EXPECT_EQ(v, u"abcd");
}

// No view flag: a 32-bit agent on 64-bit Windows reads the 32-bit view, a 64-bit build
// its own.
TEST(Win32RegistryView, ReadsTheViewOfItsOwnBitness) {
    const std::u16string subKey = u"SOFTWARE\\OvUpdateTests";
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (sizeof(void*) == 4 && !wow64) GTEST_SKIP() << "a 32-bit system has one registry view";
    const REGSAM views[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
    for (REGSAM view : views) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, w(subKey), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            GTEST_SKIP() << "HKEY_LOCAL_MACHINE is not writable for this user";
        std::wstring value = view == KEY_WOW64_32KEY ? L"32" : L"64";
        RegSetValueExW(key, L"view", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), 6);
        RegCloseKey(key);
    }
    std::u16string v;
    bool read = plat::readRegistryString(Hive::LocalMachine, subKey, u"view", 520, v);
    for (REGSAM view : views) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, w(subKey), view, 0);
    ASSERT_TRUE(read);
    EXPECT_EQ(v, sizeof(void*) == 4 ? u"32" : u"64");
}

// The user's proxy as the settings dialog writes it: a manual proxy counts only while it is
// switched on; the configuration script counts on its own.
TEST(Win32ProxySettings, ValuesTheDialogWrites) {
    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    const struct {
        DWORD enable;
        const wchar_t* server;
        const wchar_t* script;
        const char16_t* servers;
        const char16_t* scriptUrl;
    } cases[] = {
        {1, L"127.0.0.1:3128", L"", u"127.0.0.1:3128", u""},
        {0, L"127.0.0.1:3128", L"", u"", u""},
        {0, L"", L"http://127.0.0.1:9/proxy.pac", u"", u"http://127.0.0.1:9/proxy.pac"},
    };
    for (const auto& c : cases) {
        RegSetKeyValueW(HKEY_CURRENT_USER, key, L"ProxyEnable", REG_DWORD, &c.enable, sizeof c.enable);
        RegSetKeyValueW(HKEY_CURRENT_USER, key, L"ProxyServer", REG_SZ, c.server,
                        static_cast<DWORD>((wcslen(c.server) + 1) * sizeof(wchar_t)));
        RegSetKeyValueW(HKEY_CURRENT_USER, key, L"ProxyOverride", REG_SZ, L"<local>", 8 * sizeof(wchar_t));
        RegSetKeyValueW(HKEY_CURRENT_USER, key, L"AutoConfigURL", REG_SZ, c.script,
                        static_cast<DWORD>((wcslen(c.script) + 1) * sizeof(wchar_t)));
        plat::ProxyConfig config = plat::proxyConfig();
        EXPECT_EQ(config.servers, c.servers) << c.enable;
        if (*c.servers) {
            EXPECT_EQ(config.bypass, u"<local>");
        }
        EXPECT_EQ(config.scriptUrl, c.scriptUrl);
    }
    for (const wchar_t* name : {L"ProxyEnable", L"ProxyServer", L"ProxyOverride", L"AutoConfigURL"})
        RegDeleteKeyValueW(HKEY_CURRENT_USER, key, name);
}

#else
TEST(Win32Registry, NeedsWindows) {
    GTEST_SKIP() << "reads the system registry; the POSIX registry file has its own tests";
}
#endif
