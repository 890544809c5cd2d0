#include <gtest/gtest.h>

#include "decision/driver_fixture.h"

namespace {

constexpr char kAppPaths[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe";
// The same value as a registry path string: hive, key and the default value.
constexpr char kPlayerRef[] =
    "HKEY_LOCAL_MACHINE$$$$SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe$$$$ ";
// A file child that always passes: its local file does not exist.
constexpr char kAnyFile[] = "<file name='absent.dll' path='9'/>";

std::string doc(const std::string& children) { return "<?xml version='1.0'?><info>" + children + "</info>"; }

std::string update(const std::string& name, const std::string& attributes = "",
                   const std::string& children = kAnyFile) {
    return "<update name='" + name + "' " + attributes + ">" + children + "</update>";
}

class UpdateRules : public DriverTest {
protected:
    // Name of the package the walk went for, empty when no element was taken.
    std::string taken(const std::string& xml) {
        m_driver.m_runStatus = -1;
        evaluate(xml);
        if (m_driver.m_runStatus == kRunNoUpdate) return "";
        return text::toUtf8(m_driver.m_update.name);
    }
    void installClient(const std::string& version) {
        writeProgram("player/Orvix.exe", version);
        setRegistry(kAppPaths, "", agentPathUtf8("player/Orvix.exe"));
    }
    std::string clientPath() const { return std::string("<Clientpath>") + kPlayerRef + "</Clientpath>"; }
};

}  // namespace

TEST_F(UpdateRules, RecognisesNamesInAnyCaseAndCollectsDomainsInOrder) {
    EXPECT_EQ(taken(doc("<DOMAIN><d>http://a</d><d></d><d>http://b</d></DOMAIN>"
                        "<domain><d>http://c</d></domain>"
                        "<UPDATE NAME='p.exe' Md5='ABC' ProBability='100'>" + std::string(kAnyFile) + "</UPDATE>")),
              "p.exe");
    EXPECT_EQ(m_driver.m_packageDomains, (std::vector<std::u16string>{u"http://a", u"http://b", u"http://c"}));
    EXPECT_EQ(m_driver.m_update.md5, u"ABC");
    EXPECT_EQ(m_driver.m_update.md5Bytes, "ABC");
}

TEST_F(UpdateRules, UpdateRecordDefaultsAndAttributeValues) {
    ASSERT_EQ(taken(doc(update("p.exe", "runnow='1' showtip=' 2x' ver='3.0' verlog='&lt;new&gt;' seed='-5' "
                                        "usehttp='1' httplink='p/p.exe' name='q.exe'"))),
              "q.exe");  // a repeated attribute: the later one wins
    const UpdateRecord& r = m_driver.m_update;
    EXPECT_TRUE(r.enable);
    EXPECT_EQ(r.runnow, 1);
    EXPECT_EQ(r.showtip, 2);
    EXPECT_EQ(r.seed, -5);
    EXPECT_EQ(r.probability, 100);
    EXPECT_EQ(r.verBytes, "3.0");
    EXPECT_EQ(r.verlogBytes, "<new>");
    EXPECT_EQ(r.httplink, u"p/p.exe");
    EXPECT_EQ(r.nameBytes, "q.exe");
}

TEST_F(UpdateRules, DisabledEmptyAndUnsafeElementsAreSkipped) {
    EXPECT_EQ(taken(doc(update("a.exe", "enable='2'") + update("b.exe", "enable='1'"))), "b.exe");
    EXPECT_EQ(taken(doc(update("a.exe", "", "") + update("b.exe"))), "b.exe");
    // A package name from the network must not leave the save folder.
    for (const char* name : {"..\\..\\evil.exe", "sub/evil.exe", "c:evil.exe", "..", ""})
        EXPECT_EQ(taken(doc(update(name))), "") << name;
    EXPECT_EQ(taken(doc("")), "");
}

TEST_F(UpdateRules, ClientVersionRange) {
    installClient("3.0.0.0");
    std::string path = clientPath();
    EXPECT_EQ(taken(doc(path + update("p.exe", "clientminver='3.0.0.1'"))), "");
    EXPECT_EQ(taken(doc(path + update("p.exe", "clientmaxver='2.9.9.9'"))), "");
    EXPECT_EQ(taken(doc(path + update("p.exe", "clientminver='3.0.0.0' clientmaxver='3.0.0.0'"))), "p.exe");
    EXPECT_EQ(text::toUtf8(m_driver.m_clientPath), agentPathUtf8("player/Orvix.exe"));

    // An unversioned player is older than any minimum and within any maximum.
    installClient("");
    EXPECT_EQ(taken(doc(path + update("p.exe", "clientminver='0.0.0.1'"))), "");
    EXPECT_EQ(taken(doc(path + update("p.exe", "clientmaxver='0.0.0.1'"))), "p.exe");
}

TEST_F(UpdateRules, ChannelIdentifiersMatchAsSubstrings) {
    setChannel("1001");
    EXPECT_EQ(taken(doc(update("p.exe", "partnerid='77;10'"))), "");
    EXPECT_EQ(taken(doc(update("p.exe", "partnerid=';;'"))), "p.exe");
    EXPECT_EQ(taken(doc(update("p.exe", "partnerid=' 1001'"))), "p.exe");  // pieces are not trimmed
}

TEST_F(UpdateRules, RegionBlackAndWhiteLists) {
    m_driver.m_regionValues = {u"c"};
    EXPECT_EQ(taken(doc(update("p.exe", "blacklist='a|b' whitelist='x'"))), "p.exe");
    EXPECT_EQ(taken(doc(update("p.exe", "blacklist='a| c '"))), "");
    EXPECT_EQ(taken(doc(update("p.exe", "whitelist=' d | c '"))), "p.exe");
    EXPECT_EQ(taken(doc(update("p.exe", "whitelist='C'"))), "");  // exact comparison
    m_driver.m_regionValues.clear();
    EXPECT_EQ(taken(doc(update("p.exe", "whitelist='c'"))), "");
}

TEST_F(UpdateRules, RegionValuesComeFromTheRegistryInOrder) {
    setRegistry("HKEY_CURRENT_USER\\Kavo.FDS", "city", "sz");
    setRegistry("HKEY_CURRENT_USER\\Kavo.FDS", "area", "cn");
    m_driver.gatherRegionValues();
    // A value that cannot be read stays as its registry string, which matches no code.
    EXPECT_EQ(m_driver.m_regionValues,
              (std::vector<std::u16string>{u"cn", u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$country", u"sz",
                                           u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$province",
                                           u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$net"}));
}

TEST_F(UpdateRules, LocalFileVersionsDecideEachFileChild) {
    installClient("3.0.0.0");
    writeProgram("player/codec.dll", "2.0.0.0");
    writeProgram("player/plain.dll", "");
    std::string paths = "<Path><p name='" + std::string(kPlayerRef) + "' flag='1' reg='TRUE'/></Path>";
    auto file = [](const std::string& attributes) { return "<file path='1' " + attributes + "/>"; };

    EXPECT_EQ(taken(doc(paths + update("p.exe", "", file("name='codec.dll' ver='2.0.0.0'")))), "");
    EXPECT_EQ(taken(doc(paths + update("p.exe", "", file("name='codec.dll' ver='2.0.0.1' minver='2.0.0.1'")))), "");
    EXPECT_EQ(taken(doc(paths + update("p.exe", "", file("name='codec.dll' maxver='1.9.0.0'")))), "");
    EXPECT_EQ(taken(doc(paths + update("p.exe", "", file("name='codec.dll' ver='2.0.0.1' minver='2.0.0.0'")))),
              "p.exe");
    EXPECT_EQ(m_driver.m_namedPaths[u"1"], agentPath("player"));
    // An unversioned file passes ver and maxver, fails minver.
    EXPECT_EQ(taken(doc(paths + update("p.exe", "", file("name='plain.dll' ver='1.0.0.0' maxver='1.0.0.0'")))),
              "p.exe");
    EXPECT_EQ(taken(doc(paths + update("p.exe", "", file("name='plain.dll' minver='1.0.0.0'")))), "");
    // The first passing child is enough.
    EXPECT_EQ(taken(doc(paths + update("p.exe", "", file("name='codec.dll' ver='1.0.0.0'") +
                                                        file("name='gone.dll' ver='9.0.0.0'")))),
              "p.exe");
    EXPECT_EQ(m_driver.m_file.name, u"gone.dll");
}

TEST_F(UpdateRules, NamedPathsFromRegistryAndEnvironment) {
    writeProgram("player/bin/codec.dll", "5.0.0.0");
    setenv("OV_TEST_PLAYER", agentPathUtf8("player").c_str(), 1);
    std::string paths =
        "<Path><p name='%OV_TEST_PLAYER%\\bin' flag='2'/><p name='%OV_TEST_UNSET%\\x' flag='3'/>"
        "<p name='plain\\folder' flag='4'/><p name='HKEY_CURRENT_USER$$$$Missing$$$$v' flag='5' reg='true'/></Path>";
    EXPECT_EQ(taken(doc(paths + update("p.exe", "", "<file name='codec.dll' path='2' ver='5.0.0.0'/>"))), "");
    EXPECT_EQ(m_driver.m_namedPaths[u"2"], agentPath("player/bin"));
    // Unset variables, bare text and unreadable registry values name no folder.
    EXPECT_EQ(m_driver.m_namedPaths.count(u"3") + m_driver.m_namedPaths.count(u"4") +
                  m_driver.m_namedPaths.count(u"5"),
              0u);
    unsetenv("OV_TEST_PLAYER");
}

TEST_F(UpdateRules, RecentFileAfterTheTakenElementIsNeverRead) {
    EXPECT_EQ(taken(doc("<recentfile><f>keep</f></recentfile>" + update("p.exe") +
                        "<recentfile><f>late</f></recentfile>")),
              "p.exe");
    EXPECT_EQ(m_driver.m_recentFiles, (std::vector<std::u16string>{u"keep"}));
}
