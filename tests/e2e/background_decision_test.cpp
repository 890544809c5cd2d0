// A background run against local stand-ins of the download domains: the document is
// fetched, every rule decides in the log, and the package decision follows.
#include "app/md5.h"
#include "e2e/e2e_fixture.h"

using namespace e2e;

namespace {

constexpr char kPlayerRef[] =
    "HKEY_LOCAL_MACHINE$$$$SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe$$$$ ";

class BackgroundDecision : public ::testing::Test {
protected:
    void SetUp() override {
        m_box.installPlayer();
        m_box.setPrintLog(1);
        m_box.addSetting("Testing.ini", "Device", "ClientIDForTest", "abc");  // rollout value 83
        m_server.serve("/product/OvUpdate/OvUpdate.xml", [this](const testsupport::Request&) {
            Reply document{m_document};
            document.contentType = "text/xml";
            return document;
        });
        m_server.serve("/p", Reply{"success"});  // the crash report
        // The first domain refuses connections; the others are the server.
        m_box.setServers(kClosedServer, m_server.base());
    }

    std::vector<std::string> runAgent() { return runToEnd(m_box); }
    static std::string update(const std::string& name, const std::string& attributes, const std::string& file) {
        return "<update name='" + name + "' " + attributes + ">" + file + "</update>";
    }
    void expectLine(const std::vector<std::string>& lines, const std::string& text) {
        EXPECT_TRUE(logged(lines, text)) << text;
    }

    AgentSandbox m_box;
    HttpServer m_server;
    std::string m_document;
};

}  // namespace

TEST_F(BackgroundDecision, EveryRuleDecidesInTheLogAndTheRolloutPicksTheNextElement) {
    std::string player = windowsPath(m_box.playerExe());
    std::string base = m_server.base();
    m_box.addSetting("OrvixIS.ini", "main", "client", "1077");
    m_box.registry().set("HKEY_CURRENT_USER\\Kavo.FDS", "area", "cn");
    writeFile(m_box.dataFolder() / "qserr.dat", "error report");
    std::string anyFile = "<file name='absent.dll' path='1'/>";
    m_document = std::string("\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8'?><info>") + "<Domain><d>" + base +
                 "</d></Domain>" + "<Path><p name='" + kPlayerRef + "' flag='1' reg='true'/></Path>" +
                 "<Clientpath>" + kPlayerRef + "</Clientpath>" + update("disabled.exe", "enable='0'", anyFile) +
                 update("tooold.exe", "clientminver='1.0.0.0'", anyFile) +
                 update("channel.exe", "partnerid='77'", anyFile) +
                 update("region.exe", "blacklist='us|cn'", anyFile) +
                 update("minver.exe", "", "<file name='Orvix.exe' path='1' minver='1.0.0.0'/>") +
                 update("outside.exe", "probability='83'", anyFile) +
                 update("inside.exe", "probability='84'", anyFile) + "</info>\r\n";

    std::vector<std::string> lines = runAgent();
    std::string saveFolder = windowsPath(m_box.dataFolder()) + "\\OvUpdate";
    expectLine(lines, "下载xml url = http://127.0.0.1:9/product/OvUpdate/OvUpdate.xml, 下载失败");
    expectLine(lines, "下载xml url = " + base + "/product/OvUpdate/OvUpdate.xml, 下载成功");
    expectLine(lines, "domain1->" + base);
    expectLine(lines, "disabled.exe节点无效");
    expectLine(lines, player + "的版本号小于1.0.0.0，tooold.exe节点无效");
    expectLine(lines, "xml渠道id:77命中1077，此渠道不升级, channel.exe节点无效");
    expectLine(lines, "xml版本区间--,渠道id:, region.exe节点有效");
    expectLine(lines, "updatenode节点region.exe无效或者区域无效清除此节点信息");
    expectLine(lines, "本地文件" + player + "版本号小于1.0.0.0");
    expectLine(lines, "updatenode节点minver.exe里所有file节点不满足升级条件删除当前updatenode节点信息");
    expectLine(lines, "需要下载的包" + saveFolder + "\\outside.exe不存在，下载前做灰度判断");
    expectLine(lines, "判断是否符合灰度控制，本机使用的clientid：abc, xml中控制的比例值为：83，xml中种子为：1000");
    expectLine(lines, "不在灰度内");
    expectLine(lines, "updatenode节点inside.exe里file节点absent.dll满足条件去升级");
    expectLine(lines, "落在灰度内");
    EXPECT_FALSE(hasLine(lines, agentLine("由于下载xml失败，现在开始重试...")));
    // The crash report went first.
    std::vector<testsupport::Request> requests = m_server.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().method + " " + requests.front().path, "POST /p");
    EXPECT_FALSE(std::filesystem::exists(m_box.dataFolder() / "qserr.dat"));
    // The print-log copy holds the cleaned document, in the agent's working folder.
    EXPECT_EQ(readFile(m_box.path() / "OvUpdatePrintLog.xml"), m_document.substr(3, m_document.rfind('>') - 2));
}

TEST_F(BackgroundDecision, PackageOnDiskWithTheRightDigestIsTakenWithoutDownload) {
    std::string package = "a package already downloaded\n";
    writeFile(m_box.dataFolder() / "OvUpdate" / "setup.exe", package);
    m_box.addSetting("OvUpdate.ini", "update", "runnow", "0");  // recorded, not started
    m_document = "<info>" +
                 update("setup.exe",
                        "probability='0' httplinkfull='" + m_server.base() + "/setup.exe' md5='" +
                            app::md5OfBuffer(package.data(), package.size()) + "'",
                        "<file name='absent.dll' path='1'/>") +
                 "</info>";
    std::vector<std::string> lines = runAgent();
    expectLine(lines, "校验成功");
    expectLine(lines, "下载安装包完成 下载状态是：3");
    EXPECT_EQ(requestedPaths(m_server), (std::vector<std::string>{"/product/OvUpdate/OvUpdate.xml"}));
}

TEST_F(BackgroundDecision, DocumentThatIsNotWellFormedEndsTheRunWithStatus2) {
    m_document = "<info><update name='a.exe'></info>";
    std::vector<std::string> lines = runAgent();
    expectLine(lines, "下载安装包完成 下载状态是：2");
    expectLine(lines, "解析xml失败或者不满足升级条件");
}
