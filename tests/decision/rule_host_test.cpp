#include "decision/rule_host.h"

#include <gtest/gtest.h>

#include "decision/decision_fixture.h"

namespace {

constexpr char16_t kPlayerRef[] =
    u"HKEY_LOCAL_MACHINE$$$$SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe$$$$ ";

class SystemRuleHost : public DriverTest {};

}  // namespace

// The rules ask the real machine through the system host: file versions from the files'
// version resources, the channel from the player's install settings, registry path strings
// and environment variables.
TEST_F(SystemRuleHost, AnswersFromThisMachine) {
    writeProgram("player/Orvix.exe", "3.0.0.0");
    writeProgram("player/plain.dll", "");
    registerPlayer(path() / "player" / "Orvix.exe");
    registry().set("HKEY_CURRENT_USER\\Kavo.FDS", "city", "sz");
    setChannel("1001");
    setenv("OV_TEST_PLAYER", text::toUtf8(agentPath("player")).c_str(), 1);
    decision::RuleHost& host = decision::systemRuleHost();

    EXPECT_TRUE(host.fileExists(agentPath("player/Orvix.exe")));
    EXPECT_FALSE(host.fileExists(agentPath("player/gone.dll")));
    EXPECT_EQ(host.fileVersion(agentPath("player/Orvix.exe")), u"3.0.0.0");
    EXPECT_EQ(host.fileVersion(agentPath("player/plain.dll")), u"");
    EXPECT_EQ(host.channel(), u"1001");
    EXPECT_EQ(host.environmentVariable(u"OV_TEST_PLAYER"), agentPath("player"));

    std::u16string path = kPlayerRef;
    EXPECT_TRUE(host.readRegistryPath(path));
    EXPECT_EQ(path, agentPath("player/Orvix.exe"));
    std::u16string folder = kPlayerRef;
    EXPECT_TRUE(host.readRegistryPathFolder(folder));
    EXPECT_EQ(folder, agentPath("player"));
    std::u16string region = u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$city";
    EXPECT_TRUE(host.readRegistryPathFolder(region));
    EXPECT_EQ(region, u"sz");
    // A value no test and no run ever writes, also in a Windows registry that outlives runs.
    std::u16string missing = u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$never-written";
    EXPECT_FALSE(host.readRegistryPathFolder(missing));
    EXPECT_EQ(missing, u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$never-written");
    unsetenv("OV_TEST_PLAYER");
}
