// The module update of a deployment with a release key: upcfg.xml and the module list are
// taken only with a good minisign signature, and a module only with the SHA-256 of its
// archive and of its file. Every refusal leaves the installation as it was and fetches
// nothing beyond the refused document.
#include <functional>

#include "app/md5.h"
#include "app/sha256.h"
#include "e2e/e2e_fixture.h"
#include "e2e/release_key.h"
#include "support/unmovable_file.h"
#include "support/zip_archive.h"

using namespace e2e;

namespace {

std::string md5(const std::string& s) { return app::md5OfBuffer(s.data(), s.size()); }
std::string sha256(const std::string& s) { return app::sha256OfBuffer(s.data(), s.size()); }

constexpr char kConfigPath[] = "/product/OvUpdate/upcfg.xml";
constexpr char kListPath[] = "/m/update.xml";
constexpr char kListName[] = "m/update.xml";  // its path in the served tree
constexpr char kArchivePath[] = "/m/bin/codec.dll.zip";
constexpr char kInstalled[] = "old codec";
constexpr char kOffered[] = "new codec";

// What the server publishes: each document with its signature (empty: none), and the
// module's archive.
struct Publication {
    std::string config, configSignature;
    std::string list, listSignature;
    std::string archive;
};

class SignedModulesWorld {
public:
    SignedModulesWorld() {
        m_box.installPlayer();
        m_box.setPrintLog(1);
        writeFile(m_box.playerFolder() / "codec.dll", kInstalled);
        m_box.setServers(m_http.base(), m_http.base());
        m_box.addServerSetting("publickey", m_key.publicKey());
        m_box.addServerSetting("maxagedays", "30");
        // An installer document in which nothing applies, so the module update follows.
        std::string document =
            "<info><update name='off.exe' enable='0'><file name='Orvix.exe' path='1'/></update></info>";
        serve("/product/OvUpdate/OvUpdate.xml", document, m_key.sign(document, "OvUpdate.xml"));
    }

    // The publication a release engineer makes: signed documents, both digests listed.
    Publication release() const {
        Publication p;
        p.config = "<root><updates><up sdir='" + m_http.base() + "/m' percent='100'/></updates></root>";
        p.configSignature = m_key.sign(p.config, "upcfg.xml");
        p.archive = testsupport::makeZip({{"codec.dll", kOffered}});
        p.list = listOf(" sha256='" + sha256(kOffered) + "' zipsha256='" + sha256(p.archive) + "'", p.archive);
        p.listSignature = m_key.sign(p.list, kListName);
        return p;
    }
    static std::string listOf(const std::string& digests, const std::string& archive) {
        return "<?xml version='1.0' encoding='UTF-8'?>\r\n<root>\r\n<File md5='" + md5(kOffered) + "' zipmd5='" +
               md5(archive) + "'" + digests + ">codec.dll</File>\r\n</root>\r\n";
    }
    void publish(const Publication& p) {
        serve(kConfigPath, p.config, p.configSignature);
        serve(kListPath, p.list, p.listSignature);
        m_http.serve(kArchivePath, Reply{p.archive});
    }

    std::vector<std::string> runAgent() { return runToEnd(m_box); }
    std::string installed() const { return readFile(m_box.playerFolder() / "codec.dll"); }
    int hits(const std::string& path) const { return m_http.hits(path); }
    std::string url(const std::string& path) const { return m_http.url(path); }

    AgentSandbox m_box;
    ReleaseKey m_key;
    ReleaseKey m_otherKey;

private:
    void serve(const std::string& path, const std::string& body, const std::string& signature) {
        m_http.serve(path, Reply{body});
        if (signature.empty()) m_http.serve(path + ".minisig", Reply{"", 404});
        else m_http.serve(path + ".minisig", Reply{signature});
    }

    HttpServer m_http;
};

std::string refusal(const std::string& url, const std::string& reason) {
    return "document " + url + " refused: " + reason;
}

}  // namespace

TEST(SignedModules, SignedSourceWithBothDigestsIsSwappedIn) {
    SignedModulesWorld world;
    world.publish(world.release());
    std::vector<std::string> lines = world.runAgent();
    EXPECT_TRUE(inOrder(lines, {"replace new files start", "replace count 1 success", "静默升级完成"}));
    EXPECT_TRUE(loggedPrefix(lines, "compare "));
    EXPECT_EQ(world.installed(), kOffered);
    EXPECT_EQ(world.hits(kArchivePath), 1);
}

// Each way a source can be wrong: the line that says why, the stage's own failure line,
// nothing fetched beyond the refused document, and the installed module unchanged.
TEST(SignedModules, EveryBadSourceIsRefusedAndTheInstallationStays) {
    using World = SignedModulesWorld;
    std::time_t now = std::time(nullptr);
    struct Case {
        const char* what;
        std::function<void(World&, Publication&)> arrange;
        std::string refused;  // start of the line that tells why (a refusal: after the document's URL)
        std::string failure;  // start of the stage's failure line
        bool listFetched;
        bool archiveFetched;
    };
    const Case cases[] = {
        {"upcfg.xml tampered", [](World&, Publication& p) { p.config += " "; },
         "upcfg: signature does not match the document", "DownloadUpdateCfgFile failed or up nodes empty", false,
         false},
        {"upcfg.xml signed with another key",
         [](World& w, Publication& p) { p.configSignature = w.m_otherKey.sign(p.config, "upcfg.xml"); },
         "upcfg: signed with key ", "DownloadUpdateCfgFile failed or up nodes empty", false, false},
        {"upcfg.xml without .minisig", [](World&, Publication& p) { p.configSignature.clear(); },
         "upcfg: no signature", "DownloadUpdateCfgFile failed or up nodes empty", false, false},
        {"a module list standing in for upcfg.xml",
         [](World& w, Publication& p) {
             p.config = p.list;
             p.configSignature = p.listSignature;
         },
         "upcfg: signed for file \"m/update.xml\", not product/OvUpdate/upcfg.xml",
         "DownloadUpdateCfgFile failed or up nodes empty", false, false},
        {"upcfg.xml signed too long ago",
         [now](World& w, Publication& p) {
             p.configSignature =
                 w.m_key.sign(p.config, "upcfg.xml", ReleaseKey::comment("upcfg.xml", now - 31 * 86400));
         },
         "upcfg: signed at ", "DownloadUpdateCfgFile failed or up nodes empty", false, false},
        {"update.xml tampered", [](World&, Publication& p) { p.list.insert(p.list.find("codec"), "x"); },
         "list: signature does not match the document", "Update finish failed", true, false},
        {"update.xml signed as upcfg.xml",
         [](World& w, Publication& p) { p.listSignature = w.m_key.sign(p.list, "upcfg.xml"); },
         "list: signed for file \"upcfg.xml\", not m/update.xml", "Update finish failed", true, false},
        {"another source's list, signed at the same time",
         [](World& w, Publication& p) { p.listSignature = w.m_key.sign(p.list, "A/v2/update.xml"); },
         "list: signed for file \"A/v2/update.xml\", not m/update.xml", "Update finish failed", true, false},
        {"a list under its bare name", [](World& w, Publication& p) { p.listSignature = w.m_key.sign(p.list, "update.xml"); },
         "list: signed for file \"update.xml\", not m/update.xml", "Update finish failed", true, false},
        {"an entry without sha256",
         [](World& w, Publication& p) {
             p.list = World::listOf(" zipsha256='" + sha256(p.archive) + "'", p.archive);
             p.listSignature = w.m_key.sign(p.list, kListName);
         },
         "", "ParseUpdateModuleList ", true, false},
        {"an archive with another SHA-256",
         [](World& w, Publication& p) {
             p.list = World::listOf(
                 " sha256='" + sha256(kOffered) + "' zipsha256='" + sha256(p.archive + "x") + "'", p.archive);
             p.listSignature = w.m_key.sign(p.list, kListName);
         },
         "", "CheckAndDownloadModulesByList failed", true, true},
        {"a module with another SHA-256",
         [](World& w, Publication& p) {
             p.list = World::listOf(
                 " sha256='" + sha256("other codec") + "' zipsha256='" + sha256(p.archive) + "'", p.archive);
             p.listSignature = w.m_key.sign(p.list, kListName);
         },
         "", "CheckAndDownloadModulesByList failed", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        World world;
        Publication p = world.release();
        c.arrange(world, p);
        world.publish(p);
        std::vector<std::string> lines = world.runAgent();
        std::string refused = c.refused;
        if (refused.rfind("upcfg: ", 0) == 0) refused = refusal(world.url(kConfigPath), refused.substr(7));
        else if (refused.rfind("list: ", 0) == 0) refused = refusal(world.url(kListPath), refused.substr(6));
        if (!refused.empty()) {
            EXPECT_TRUE(loggedPrefix(lines, refused)) << refused;
        }
        EXPECT_TRUE(loggedPrefix(lines, c.failure)) << c.failure;
        EXPECT_FALSE(logged(lines, "replace new files start"));
        EXPECT_EQ(world.hits(kListPath) > 0, c.listFetched);
        EXPECT_EQ(world.hits(kArchivePath) > 0, c.archiveFetched);
        EXPECT_EQ(world.installed(), kInstalled);
    }
}

// A run that is handed an older upcfg.xml than the one an earlier run took refuses it.
TEST(SignedModules, AnOlderConfigurationAfterANewerOneIsRefused) {
    SignedModulesWorld world;
    std::time_t now = std::time(nullptr);
    Publication p = world.release();
    world.publish(p);
    world.runAgent();
    EXPECT_EQ(world.installed(), kOffered);

    writeFile(world.m_box.playerFolder() / "codec.dll", kInstalled);
    p.configSignature = world.m_key.sign(p.config, "upcfg.xml", ReleaseKey::comment("upcfg.xml", now - 3600));
    world.publish(p);
    world.m_box.removeLogs();
    std::vector<std::string> lines = world.runAgent();
    EXPECT_TRUE(loggedPrefix(lines, refusal(world.url(kConfigPath), "signed at " + std::to_string(now - 3600))));
    EXPECT_EQ(world.installed(), kInstalled);
    EXPECT_EQ(world.hits(kArchivePath), 1);
}

// A swap that fails keeps its staging list, which records the SHA-256 of each staged file
// beside its MD5; the next run, handed the same module list, swaps that file in without
// fetching it again.
TEST(SignedModules, FailedSwapKeepsTheSha256OfTheStagedFileForTheNextRun) {
    SignedModulesWorld world;
    world.publish(world.release());
    fs::path work = world.m_box.playerFolder() / "OvUpdate";
    fs::create_directories(work);  // a held player folder takes no new folder
    {
        testsupport::UnmovableFile held(world.m_box.playerFolder() / "codec.dll");
        if (!held.held()) GTEST_SKIP() << "cannot hold an installed file here";
        std::vector<std::string> lines = world.runAgent();
        EXPECT_TRUE(logged(lines, "replace files failed, rollback finish and return"));
    }
    EXPECT_EQ(world.installed(), kInstalled);
    EXPECT_NE(readFile(work / "update.pre.xml").find("sha256=\"" + sha256(kOffered) + "\""), std::string::npos);

    world.m_box.removeLogs();
    std::vector<std::string> lines = world.runAgent();
    EXPECT_TRUE(logged(lines, "replace count 1 success"));
    EXPECT_FALSE(loggedPrefix(lines, "stale staging list "));
    EXPECT_EQ(world.installed(), kOffered);
    EXPECT_EQ(world.hits(kArchivePath), 1);
}
