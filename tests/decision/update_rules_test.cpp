#include "decision/update_rules.h"

#include <gtest/gtest.h>

#include <map>

#include "decision/update_document.h"
#include "decision/update_driver.h"
#include "text/text.h"

using namespace decision;

namespace {

// A machine described by tables: files with their versions (empty: no version resource),
// registry path strings with their values, the player's channel and the environment.
class FakeHost : public RuleHost {
public:
    std::map<std::u16string, std::u16string> files;
    std::map<std::u16string, std::u16string> registry;
    std::u16string channelId;
    std::map<std::u16string, std::u16string> environment;

    bool fileExists(const std::u16string& path) override { return files.count(path) != 0; }
    std::u16string fileVersion(const std::u16string& path) override { return lookUp(files, path); }
    std::u16string channel() override { return channelId; }
    bool readRegistryPath(std::u16string& path) override {
        std::u16string value = lookUp(registry, path);
        if (value.empty()) return false;
        path = value;
        return true;
    }
    // As on the real host: a value that names a file gives that file's folder.
    bool readRegistryPathFolder(std::u16string& path) override {
        std::u16string value = path;
        if (!readRegistryPath(value)) return false;
        if (fileExists(value)) value.erase(value.rfind(u'\\'));
        path = value;
        return true;
    }
    std::u16string environmentVariable(const std::u16string& name) override { return lookUp(environment, name); }

private:
    static std::u16string lookUp(const std::map<std::u16string, std::u16string>& table,
                                 const std::u16string& key) {
        auto found = table.find(key);
        return found == table.end() ? std::u16string() : found->second;
    }
};

// The player's App Paths value as a registry path string: hive, key and the default value.
constexpr char16_t kPlayerRef[] =
    u"HKEY_LOCAL_MACHINE$$$$SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe$$$$ ";
constexpr char kPlayerRefUtf8[] =
    "HKEY_LOCAL_MACHINE$$$$SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe$$$$ ";
constexpr char16_t kPlayer[] = u"\\player\\Orvix.exe";
// A file child that always passes: its local file does not exist.
constexpr char kAnyFile[] = "<file name='absent.dll' path='9'/>";

std::string doc(const std::string& children) { return "<?xml version='1.0'?><info>" + children + "</info>"; }

std::string update(const std::string& name, const std::string& attributes = "",
                   const std::string& children = kAnyFile) {
    return "<update name='" + name + "' " + attributes + ">" + children + "</update>";
}

std::vector<DocumentItem> parse(const std::string& xml) {
    std::vector<DocumentItem> items;
    EXPECT_TRUE(parseUpdateDocument(xml, items)) << xml;
    return items;
}

class UpdateRules : public ::testing::Test {
protected:
    // Name of the package the walk went for, empty when it took no element. No package is
    // on disk and "abc" is inside every full rollout, so a taken element is downloaded.
    std::string taken(const std::string& xml) {
        WalkMachine machine{u"\\ovupdate-test-no-such-folder", u"abc", {}, false};
        m_decision = walkDocument(parse(xml), m_host, machine).decision;
        if (m_decision.verdict == fetch::Verdict::NoUpdate) return "";
        EXPECT_EQ(m_decision.verdict, fetch::Verdict::Download);
        return text::toUtf8(m_decision.job.package.name);
    }
    void installClient(const std::u16string& version) {
        m_host.files[kPlayer] = version;
        m_host.registry[kPlayerRef] = kPlayer;
    }
    static std::string clientPath() { return std::string("<Clientpath>") + kPlayerRefUtf8 + "</Clientpath>"; }

    FakeHost m_host;
    RunDecision m_decision;
};

}  // namespace

TEST(UpdateDocument, RecordDefaultsAndAttributeValues) {
    std::vector<DocumentItem> items = parse(doc(update("p.exe",
                                                       "runnow='1' showtip=' 2x' ver='3.0' "
                                                       "verlog='&lt;new&gt;' seed='-5' usehttp='1' "
                                                       "httplink='p/p.exe' name='q.exe'") +
                                                "<other/>"));
    ASSERT_EQ(items.size(), 1u);  // elements of other names are left out
    const UpdateRecord& r = items[0].update;
    EXPECT_EQ(r.name, u"q.exe");  // a repeated attribute: the later one wins
    EXPECT_EQ(r.nameBytes, "q.exe");
    EXPECT_TRUE(r.enable);
    EXPECT_EQ(r.runnow, 1);
    EXPECT_EQ(r.showtip, 2);
    EXPECT_EQ(r.seed, -5);
    EXPECT_EQ(r.probability, 100);
    EXPECT_EQ(r.verBytes, "3.0");
    EXPECT_EQ(r.verlogBytes, "<new>");
    EXPECT_EQ(r.httplink, u"p/p.exe");
}

TEST_F(UpdateRules, RecognisesNamesInAnyCaseAndCollectsDomainsInOrder) {
    EXPECT_EQ(taken(doc("<DOMAIN><d>http://a</d><d></d><d>http://b</d></DOMAIN>"
                        "<domain><d>http://c</d></domain>"
                        "<UPDATE NAME='p.exe' Md5='ABC' ProBability='100'>" +
                        std::string(kAnyFile) + "</UPDATE>")),
              "p.exe");
    EXPECT_EQ(m_decision.job.domains, (std::vector<std::u16string>{u"http://a", u"http://b", u"http://c"}));
    EXPECT_EQ(m_decision.job.package.md5, u"ABC");
    EXPECT_EQ(m_decision.job.package.md5Bytes, "ABC");
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
    installClient(u"3.0.0.0");
    std::string path = clientPath();
    EXPECT_EQ(taken(doc(path + update("p.exe", "clientminver='3.0.0.1'"))), "");
    EXPECT_EQ(taken(doc(path + update("p.exe", "clientmaxver='2.9.9.9'"))), "");
    EXPECT_EQ(taken(doc(path + update("p.exe", "clientminver='3.0.0.0' clientmaxver='3.0.0.0'"))), "p.exe");

    // An unversioned player is older than any minimum and within any maximum.
    installClient(u"");
    EXPECT_EQ(taken(doc(path + update("p.exe", "clientminver='0.0.0.1'"))), "");
    EXPECT_EQ(taken(doc(path + update("p.exe", "clientmaxver='0.0.0.1'"))), "p.exe");
}

TEST_F(UpdateRules, ChannelIdentifiersMatchAsSubstrings) {
    m_host.channelId = u"1001";
    EXPECT_EQ(taken(doc(update("p.exe", "partnerid='77;10'"))), "");
    EXPECT_EQ(taken(doc(update("p.exe", "partnerid=';;'"))), "p.exe");
    EXPECT_EQ(taken(doc(update("p.exe", "partnerid=' 1001'"))), "p.exe");  // pieces are not trimmed
}

TEST_F(UpdateRules, RegionBlackAndWhiteLists) {
    struct Case {
        std::vector<std::u16string> regions;
        std::string attributes;
        bool applies;
    } cases[] = {
        {{u"c"}, "blacklist='a|b' whitelist='x'", true},  // a black list decides alone
        {{u"c"}, "blacklist='a| c '", false},
        {{u"c"}, "whitelist=' d | c '", true},
        {{u"c"}, "whitelist='C'", false},  // exact comparison
        {{}, "whitelist='c'", false},
        {{}, "", true},
    };
    for (const Case& c : cases) {
        std::vector<DocumentItem> items = parse(doc(update("p.exe", c.attributes)));
        RuleContext context;
        context.regions = c.regions;
        EXPECT_EQ(elementVerdict(items.at(0), context, m_host).applies(), c.applies) << c.attributes;
    }
}

TEST_F(UpdateRules, RegionValuesComeFromTheRegistryInOrder) {
    m_host.registry[u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$city"] = u"sz";
    m_host.registry[u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$area"] = u"cn";
    // A value that cannot be read stays as its registry string, which matches no code.
    EXPECT_EQ(gatherRegionValues(m_host),
              (std::vector<std::u16string>{u"cn", u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$country", u"sz",
                                           u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$province",
                                           u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$net"}));
}

TEST_F(UpdateRules, LocalFileVersionsDecideEachFileChild) {
    installClient(u"3.0.0.0");
    m_host.files[u"\\player\\codec.dll"] = u"2.0.0.0";
    m_host.files[u"\\player\\plain.dll"] = u"";
    m_host.files[u"\\player\\bin\\codec.dll"] = u"5.0.0.0";
    std::string paths = "<Path><p name='" + std::string(kPlayerRefUtf8) + "' flag='1' reg='TRUE'/></Path>";
    auto file = [](const std::string& attributes) { return "<file path='1' " + attributes + "/>"; };
    struct Case {
        std::string files;
        bool taken;
    } cases[] = {
        {file("name='codec.dll' ver='2.0.0.0'"), false},
        {file("name='codec.dll' ver='2.0.0.1' minver='2.0.0.1'"), false},
        {file("name='codec.dll' maxver='1.9.0.0'"), false},
        {file("name='codec.dll' ver='2.0.0.1' minver='2.0.0.0'"), true},
        {file("name='codec.dll' subpath='bin' ver='5.0.0.0'"), false},
        // An unversioned file passes ver and maxver, fails minver.
        {file("name='plain.dll' ver='1.0.0.0' maxver='1.0.0.0'"), true},
        {file("name='plain.dll' minver='1.0.0.0'"), false},
        // One passing child is enough.
        {file("name='codec.dll' ver='1.0.0.0'") + file("name='gone.dll' ver='9.0.0.0'"), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(taken(doc(paths + update("p.exe", "", c.files))), c.taken ? "p.exe" : "") << c.files;
}

TEST_F(UpdateRules, NamedPathsFromRegistryAndEnvironment) {
    m_host.environment[u"OV_TEST_PLAYER"] = u"\\player";
    m_host.environment[u"OV_TEST_LONG"] = std::u16string(300, u'x');
    m_host.registry[kPlayerRef] = kPlayer;
    m_host.files[kPlayer] = u"3.0.0.0";
    std::vector<NamedPath> paths = {
        {u"%OV_TEST_PLAYER%\\bin", u"2"},
        {u"%OV_TEST_UNSET%\\x", u"3"},
        {u"plain\\folder", u"4"},
        {u"HKEY_CURRENT_USER$$$$Missing$$$$v", u"5", u"true"},
        {kPlayerRef, u"6", u"True"},
        {u"%OV_TEST_LONG%\\y", u"7"},  // a value is taken up to 255 characters
        {kPlayerRef, u"8"},            // without reg="true" a registry string is bare text
    };
    NamedPaths folders;
    addNamedPaths(paths, m_host, folders);
    // Unset variables, bare text and unreadable registry values name no folder.
    EXPECT_EQ(
        folders,
        (NamedPaths{{u"2", u"\\player\\bin"}, {u"6", u"\\player"}, {u"7", std::u16string(255, u'x') + u"\\y"}}));
}

// Each rule's verdict names the values it compared, whichever rule refused first.
TEST_F(UpdateRules, VerdictsNameTheValuesTheyCompared) {
    using R = RuleVerdict::Reason;
    installClient(u"3.0.0.0");
    m_host.channelId = u"1077";
    m_host.files[u"\\player\\codec.dll"] = u"2.0.0.0";
    const std::string sha = "sha256='" + std::string(64, 'a') + "' ";
    const std::u16string codec = u"\\player\\codec.dll";
    auto file = [](const std::string& attributes) { return "<file name='codec.dll' path='1' " + attributes + "/>"; };
    struct Case {
        std::string attributes, files;
        RuleVerdict expected;
        bool signedDocuments = false;
    } cases[] = {
        {"enable='0' clientminver='9.0.0.0'", kAnyFile, {R::Disabled}},
        {"clientminver='3.0.0.1'", kAnyFile, {R::BelowMinimum, kPlayer, u"3.0.0.0", u"3.0.0.1"}},
        {"clientmaxver='2.0.0.0'", kAnyFile, {R::AboveMaximum, kPlayer, u"3.0.0.0", u"2.0.0.0"}},
        {"partnerid='5;107'", kAnyFile, {R::ChannelExcluded, u"", u"1077", u"5;107"}},
        {"blacklist='us|cn'", kAnyFile, {R::Blacklisted, u"", u"cn,sz", u"us|cn"}},
        {"whitelist='us'", kAnyFile, {R::NotWhitelisted, u"", u"cn,sz", u"us"}},
        {"ver='3.1.0.0'", kAnyFile, {R::NoSha256}, true},
        {sha + "ver='3.1'", kAnyFile, {R::NotFourNumbers, u"", u"3.1"}, true},
        {sha + "ver='2.9.0.0' blacklist='cn'", kAnyFile, {R::Downgrade, kPlayer, u"3.0.0.0", u"2.9.0.0"}, true},
        {sha + "ver='2.9.0.0' allowdowngrade='1' blacklist='cn'", kAnyFile,
         {R::Blacklisted, u"", u"cn,sz", u"cn"}, true},
        {"", file("ver='2.0.0.0'"), {R::FileNotOlder, codec, u"2.0.0.0", u"2.0.0.0"}},
        {"", file("minver='2.1.0.0'"), {R::FileBelowMinimum, codec, u"2.0.0.0", u"2.1.0.0"}},
        {"", file("maxver='1.0.0.0'"), {R::FileAboveMaximum, codec, u"2.0.0.0", u"1.0.0.0"}},
        // A passing child names the path it looked at.
        {"", "<file name='new.dll' path='1' subpath='sub'/>", {R::Passes, u"\\player\\sub\\new.dll"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attributes + c.files);
        RuleContext context;
        context.clientPath = kPlayer;
        context.folders[u"1"] = u"\\player";
        context.regions = {u"cn", u"sz"};
        context.signedDocuments = c.signedDocuments;
        DocumentItem item = parse(doc(update("p.exe", c.attributes, c.files))).at(0);
        ElementVerdict v = elementVerdict(item, context, m_host);
        const RuleVerdict& r = v.refusal() ? *v.refusal() : v.files.at(0).rule;
        EXPECT_EQ(r.reason, c.expected.reason);
        EXPECT_EQ(r.subject, c.expected.subject);
        EXPECT_EQ(r.actual, c.expected.actual);
        EXPECT_EQ(r.bound, c.expected.bound);
        EXPECT_EQ(v.applies(), c.expected.passes());
    }
}
