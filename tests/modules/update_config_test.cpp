// upcfg.xml: where it is fetched from, how its nodes read, and which node applies.
#include "modules_fixture.h"

namespace modulestest {
namespace {

class UpdateConfig : public ModuleTest {
protected:
    std::string up(const std::string& attributes) { return "<up " + attributes + "/>"; }
    std::string source(const std::string& dir) { return "sdir=\"" + server().url("/" + dir) + "\""; }
    // Which sources had their module list asked for.
    std::string tried(std::initializer_list<const char*> dirs) {
        std::string out;
        for (const char* d : dirs)
            if (server().hits(std::string("/") + d + "/update.xml")) out += d;
        return out;
    }
};

TEST_F(UpdateConfig, NodeAttributesReadWithClampAndDefaults) {
    struct Case {
        std::string attributes;
        int percent, seed;
    } cases[] = {
        {"percent=\"99\"", 100, 1000},
        {"percent=\"100\"", 100, 1000},
        {"percent=\"250\"", 100, 1000},
        {"percent=\"-1\"", 100, 1000},
        {"", 0, 1000},
        {"percent=\"\"", 0, 1000},
        {"percent=\"0\"", 0, 1000},
        {"percent=\" 42x\"", 42, 1000},
        {"percent=\"4294967296\"", 100, 1000},
        {"seed=\"\"", 0, 1000},
        {"seed=\"77\"", 0, 77},
        {"seed=\"-5\" percent=\"98\"", 98, -5},
    };
    std::string ups;
    for (const Case& c : cases) ups += up(c.attributes + " maxver=\"1.0.0.9\" miniver=\"1.0.0.1\" " + source("s"));
    publishConfig(ups);
    std::vector<UpdateNode> nodes;
    ASSERT_TRUE(m_updater.DownloadUpdateCfgFile(u"", nodes));
    ASSERT_EQ(nodes.size(), std::size(cases));
    for (size_t i = 0; i < nodes.size(); ++i) {
        SCOPED_TRACE(cases[i].attributes);
        EXPECT_EQ(nodes[i].percent, cases[i].percent);
        EXPECT_EQ(nodes[i].seed, cases[i].seed);
        EXPECT_EQ(nodes[i].minVersion, u"1.0.0.1");
        EXPECT_EQ(nodes[i].maxVersion, u"1.0.0.9");
        EXPECT_EQ(nodes[i].sourceDir, u(server().url("/s")));
    }
    EXPECT_TRUE(logged("download config file url " + server().url("/product/OvUpdate/upcfg.xml") + "\r\n"));
}

TEST_F(UpdateConfig, UnusableDocumentsFail) {
    const char* bodies[] = {"", "not xml <", "<root></root>", "<other><updates/></other>"};
    for (const char* body : bodies) {
        SCOPED_TRACE(body);
        server().serve("/product/OvUpdate/upcfg.xml", {body});
        std::vector<UpdateNode> nodes;
        EXPECT_FALSE(m_updater.DownloadUpdateCfgFile(u"", nodes));
    }
    publishConfig("");  // root and updates, no up: read fine, but nothing to do
    std::vector<UpdateNode> nodes;
    EXPECT_TRUE(m_updater.DownloadUpdateCfgFile(u"", nodes));
    EXPECT_FALSE(m_updater.RunModuleUpdate(u"abc"));
    EXPECT_TRUE(logged("DownloadUpdateCfgFile failed or up nodes empty\r\n"));
}

TEST_F(UpdateConfig, DebugSettingReplacesTheDefaultAddress) {
    server().serve("/custom/cfg.xml",
                   {"<root><updates>" + up("percent=\"100\" " + source("a")) + "</updates></root>"});
    setDbgCfg(server().url("/custom/cfg.xml"));
    EXPECT_FALSE(m_updater.RunModuleUpdate(u"abc"));
    EXPECT_EQ(server().hits("/custom/cfg.xml"), 1);
    EXPECT_EQ(server().hits("/product/OvUpdate/upcfg.xml"), 0);
    EXPECT_EQ(tried({"a"}), "a");
}

TEST_F(UpdateConfig, VersionWindowAdmitsOnlyMatchingPlayers) {
    struct Case {
        std::string window, version;
        bool applies;
    } cases[] = {
        {"", "9.9.9.9", true},
        {"maxver=\"2.0.0.0\"", "2.0.0.0", true},
        {"maxver=\"2.0.0.0\"", "2.0.0.1", false},
        {"miniver=\"2.0.0.0\"", "1.9.9.9", false},
        {"miniver=\"2.0.0.0\"", "2.0.0.0", true},
        {"miniver=\"1.0.0.0\" maxver=\"1.5.0.0\"", "1.2.3.10", true},
        {"miniver=\"3.0\" maxver=\"1.0\"", "2.0.0.0", true},  // bounds that are not four numbers
        {"miniver=\"3.0.0.0\"", "2.0", true},                 // nor is the version
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window + " / " + c.version);
        server().clear();
        publishConfig(up("percent=\"100\" " + c.window + " " + source("a")));
        m_updater.setPlayerFolder(agentPath(player()));
        EXPECT_FALSE(m_updater.DoFullUpdate(u"", u"abc", u(c.version)));
        EXPECT_EQ(tried({"a"}), c.applies ? "a" : "");
    }
}

TEST_F(UpdateConfig, RolloutAndOrderDecideWhichSourceRuns) {
    // "abc" with seed 1000 hashes to 83: inside from 84 percent up.
    publishConfig(up("percent=\"83\" " + source("a")) + up("percent=\"0\" " + source("b")) +
                  up("percent=\"100\" sdir=\"\"") + up("percent=\"84\" " + source("c")) +
                  up("percent=\"100\" " + source("d")) + up("percent=\"100\" " + source("e")));
    publish("d", {});
    EXPECT_TRUE(m_updater.RunModuleUpdate(u"abc"));
    EXPECT_EQ(tried({"a", "b", "c", "d", "e"}), "cd");  // c fails (no list), d succeeds, e never asked
    EXPECT_TRUE(logged("判断是否符合灰度控制，本机使用的clientid：abc, 控制的比例值为：83，种子为：1000"));
    EXPECT_EQ(countLogged("不在灰度内"), 2);
    EXPECT_EQ(countLogged("Update finish failed\r\n"), 1);
    EXPECT_TRUE(logged("Update finish success\r\n"));
}

}  // namespace
}  // namespace modulestest
