// A deployment with a release key: the update-information document, the offer document
// and a local debug document are taken only with a good minisign signature, packages only
// with their SHA-256, and no older player than the installed one. Every refusal leaves
// nothing downloaded or started, logs the document's URL and the reason, and takes the
// failure path the step has anyway.
#include <functional>

#include "app/md5.h"
#include "app/sha256.h"
#include "e2e/channel_support.h"
#include "e2e/release_key.h"
#include "platform/pe_builder.h"

using namespace e2e;

namespace {

constexpr char kPlayerRef[] =
    "HKEY_LOCAL_MACHINE$$$$SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe$$$$ ";
constexpr char kPackage[] = "OrvixSetup_3.2.0.1.exe";
constexpr char kDocumentPath[] = "/product/OvUpdate/OvUpdate.xml";
constexpr char kDocumentName[] = "OvUpdate.xml";
constexpr char kDocumentTreePath[] = "product/OvUpdate/OvUpdate.xml";  // remembered under it
constexpr int kMaxAgeDays = 30;
constexpr std::time_t kDay = 86400;

std::string sha256(const std::string& s) { return app::sha256OfBuffer(s.data(), s.size()); }

// A hostile mirror as the first download domain and the maker's server as the second, in a
// deployment that trusts one release key (a second key of the test is trusted by nobody).
// The package is the stand-in installer, started at once when accepted (runnow = 1).
class SignedWorld {
public:
    SignedWorld() {
        m_box.installPlayer();
        m_box.setPrintLog(1);
        m_box.addSetting("Testing.ini", "Device", "ClientIDForTest", "abc");
        m_box.setServers(m_mirror.base(), m_maker.base());
        m_box.addServerSetting("publickey", m_key.publicKey());
        m_box.addServerSetting("maxagedays", std::to_string(kMaxAgeDays));
        m_box.setEnv("INSTALLER_MARKER", marker().u8string());
        m_package = readFile(buildProgram("OrvixSetup"));
        m_maker.serve(std::string("/packages/") + kPackage, Reply{m_package});
    }

    // The update document offering the package, with these attributes besides its name,
    // version and digests.
    std::string document(const std::string& attributes, const std::string& ver = "3.2.0.1") const {
        return std::string("<?xml version='1.0' encoding='utf-8'?><updateinfo><Domain><domain>") + m_maker.base() +
               "</domain></Domain><Clientpath>" + kPlayerRef + "</Clientpath><update name='" + kPackage +
               "' ver='" + ver + "' md5='" + app::md5OfBuffer(m_package.data(), m_package.size()) + "' " + attributes +
               "><file name='absent.dll' path='1'/></update></updateinfo>\r\n";
    }
    std::string goodDocument() const {
        return document("sha256='" + sha256(m_package) + "' runnow='1' usehttp='1' httplink='packages/" +
                        kPackage + "'");
    }
    void serve(HttpServer& server, const std::string& path, const std::string& body,
               const std::string& signature) {
        server.serve(path, Reply{body});
        if (!signature.empty()) server.serve(path + ".minisig", Reply{signature});
    }

    std::vector<std::string> runToEnd() { return e2e::runToEnd(m_box, {}, 20000); }
    // A run whose every domain fails goes into the retry schedule; it is ended there.
    std::vector<std::string> runUntilRetry() {
        std::unique_ptr<Process> agent = m_box.start();
        EXPECT_TRUE(waitUntil([&] { return logged(m_box.logLines(), "由于下载xml失败，现在开始重试..."); },
                              std::chrono::seconds(20)));
        agent->kill();
        return m_box.logLines();
    }

    fs::path marker() const { return m_box.path() / "installer-ran.txt"; }
    fs::path savedPackage() const { return m_box.dataFolder() / "OvUpdate" / kPackage; }
    int packageHits() const { return m_maker.hits(std::string("/packages/") + kPackage); }
    std::string remembered(const std::string& name) {
        std::string ini = readFile(m_box.dataFolder() / "OvUpdate.ini");
        size_t section = ini.find("[signatures]");
        size_t at = section == std::string::npos ? section : ini.find(name + "=", section);
        if (at == std::string::npos) return "";
        at += name.size() + 1;
        return ini.substr(at, ini.find_first_of("\r\n", at) - at);
    }

    AgentSandbox m_box;
    HttpServer m_mirror;
    HttpServer m_maker;
    ReleaseKey m_key;
    ReleaseKey m_otherKey;
    std::string m_package;
};

class SignedDocuments : public ::testing::Test, public SignedWorld {};

std::string refusalLine(const std::string& url, const std::string& reason) {
    return "document " + url + " refused: " + reason;
}

}  // namespace

// The mirror's document is tampered with: refused, and the maker's, on the next domain,
// is taken. Its package is downloaded, checked by both digests and started; the document's
// timestamp is remembered.
TEST_F(SignedDocuments, GoodSignatureOnTheNextDomainIsTakenAndThePackageStarted) {
    std::string good = goodDocument();
    std::time_t now = std::time(nullptr);
    std::string signature = m_key.sign(good, kDocumentName, ReleaseKey::comment(kDocumentName, now));
    std::string tampered = good;
    tampered.replace(tampered.find("packages/"), 9, "evil/////");
    serve(m_mirror, kDocumentPath, tampered, signature);
    serve(m_maker, kDocumentPath, good, signature);

    std::vector<std::string> lines = runToEnd();
    EXPECT_TRUE(logged(lines, refusalLine(m_mirror.url(kDocumentPath), "signature does not match the document")));
    EXPECT_TRUE(logged(lines, "下载xml url = " + m_maker.url(kDocumentPath) + ", 下载成功"));
    EXPECT_EQ(countLogged(lines, refusalLine(m_maker.url(kDocumentPath), "")), 0);
    EXPECT_TRUE(logged(lines, "check md5 success"));
    EXPECT_TRUE(logged(lines, "run setup.exe now"));
    EXPECT_TRUE(waitUntil([&] { return fs::exists(marker()); }));
    EXPECT_EQ(packageHits(), 1);
    EXPECT_EQ(m_mirror.hits("/evil/////" + std::string(kPackage)), 0);
    EXPECT_EQ(remembered(kDocumentTreePath), std::to_string(static_cast<long long>(now)));
}

// Each way a document can be wrong: one line names the URL and the reason, every domain
// failed, the retry schedule starts, and no package is fetched or started.
TEST_F(SignedDocuments, EveryBadDocumentIsRefusedAndNothingIsDownloaded) {
    struct Case {
        const char* what;
        std::function<void(SignedWorld&, const std::string& good)> arrange;
        std::string reason;
    };
    std::time_t now = std::time(nullptr);
    const Case cases[] = {
        {"tampered",
         [](SignedWorld& w, const std::string& good) {
             w.serve(w.m_mirror, kDocumentPath, good + " ", w.m_key.sign(good, kDocumentName));
         },
         "signature does not match the document"},
        {"signed with a key the deployment does not trust",
         [](SignedWorld& w, const std::string& good) {
             w.serve(w.m_mirror, kDocumentPath, good, w.m_otherKey.sign(good, kDocumentName));
         },
         "signed with key "},
        {"no .minisig",
         [](SignedWorld& w, const std::string& good) { w.serve(w.m_mirror, kDocumentPath, good, ""); },
         "no signature"},
        {"signature of another file",
         [](SignedWorld& w, const std::string& good) {
             w.serve(w.m_mirror, kDocumentPath, good, w.m_key.sign(good, "upcfg.xml"));
         },
         "signed for file \"upcfg.xml\", not product/OvUpdate/OvUpdate.xml"},
        {"the bare name of another folder's document",
         [](SignedWorld& w, const std::string& good) {
             w.serve(w.m_mirror, kDocumentPath, good, w.m_key.sign(good, "modules/OvUpdate.xml"));
         },
         "signed for file \"modules/OvUpdate.xml\", not product/OvUpdate/OvUpdate.xml"},
        {"the legacy kind",
         [](SignedWorld& w, const std::string& good) {
             w.serve(w.m_mirror, kDocumentPath, good, w.m_key.sign(good, kDocumentName, "", true));
         },
         "legacy signature (minisign -l); only prehashed signatures are accepted"},
        {"signed in 2017, nothing remembered, no maxagedays",
         [](SignedWorld& w, const std::string& good) {
             w.serve(w.m_mirror, kDocumentPath, good,
                     w.m_key.sign(good, kDocumentName, ReleaseKey::comment(kDocumentName, 1500000000)));
         },
         "signed at 1500000000, more than 30 days ago (expired)"},
        {"signed in 2100",
         [](SignedWorld& w, const std::string& good) {
             w.serve(w.m_mirror, kDocumentPath, good,
                     w.m_key.sign(good, kDocumentName, ReleaseKey::comment(kDocumentName, 4102444800)));
         },
         "signed at 4102444800, more than a day ahead of this machine's clock "},
        {"older than the newest accepted",
         [now](SignedWorld& w, const std::string& good) {
             w.m_box.addSetting("OvUpdate.ini", "signatures", kDocumentName, std::to_string(now));
             w.serve(w.m_mirror, kDocumentPath, good,
                     w.m_key.sign(good, kDocumentName, ReleaseKey::comment(kDocumentName, now - 60)));
         },
         "signed at " + std::to_string(now - 60) + ", older than " + std::to_string(now) +
             " accepted before (rollback)"},
        {"signed longer ago than maxagedays",
         [now](SignedWorld& w, const std::string& good) {
             std::time_t old = now - (kMaxAgeDays + 1) * kDay;
             w.serve(w.m_mirror, kDocumentPath, good,
                     w.m_key.sign(good, kDocumentName, ReleaseKey::comment(kDocumentName, old)));
         },
         "signed at " + std::to_string(now - (kMaxAgeDays + 1) * kDay) + ", more than 30 days ago (expired)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SignedWorld world;
        world.m_box.setServers(world.m_mirror.base());  // the other domains refuse connections
        world.m_box.addServerSetting("publickey", world.m_key.publicKey());  // maxagedays: the default
        c.arrange(world, world.goodDocument());
        std::vector<std::string> lines = world.runUntilRetry();
        EXPECT_TRUE(loggedPrefix(lines, refusalLine(world.m_mirror.url(kDocumentPath), c.reason)));
        EXPECT_TRUE(logged(lines, "下载xml url = " + std::string(kClosedServer) + kDocumentPath + ", 下载失败"));
        EXPECT_EQ(world.packageHits(), 0);
        EXPECT_FALSE(fs::exists(world.savedPackage()));
        EXPECT_FALSE(fs::exists(world.marker()));
        EXPECT_EQ(world.remembered(kDocumentTreePath), "");
    }
}

// A second run that is handed the document of the first, signed earlier, refuses it.
TEST_F(SignedDocuments, AnOlderDocumentAfterANewerOneIsRefused) {
    std::string offNow = document("sha256='" + sha256(m_package) + "' enable='0'");
    std::time_t now = std::time(nullptr);
    serve(m_mirror, kDocumentPath, offNow, m_key.sign(offNow, kDocumentName));
    runToEnd();
    EXPECT_GE(std::stoll("0" + remembered(kDocumentTreePath)), static_cast<long long>(now));

    std::string replayed = goodDocument();
    serve(m_mirror, kDocumentPath, replayed,
          m_key.sign(replayed, kDocumentName, ReleaseKey::comment(kDocumentName, now - 3600)));
    m_box.setServers(m_mirror.base());
    m_box.addServerSetting("publickey", m_key.publicKey());
    m_box.removeLogs();
    std::vector<std::string> lines = runUntilRetry();
    EXPECT_TRUE(loggedPrefix(lines, refusalLine(m_mirror.url(kDocumentPath), "signed at ")));
    EXPECT_EQ(packageHits(), 0);
    EXPECT_FALSE(fs::exists(marker()));
}

// A package that does not have the document's SHA-256 (its MD5 is right) is deleted and
// never started; an element without a sha256, or offering an older player than the one
// installed, is not taken at all unless it allows the downgrade.
TEST_F(SignedDocuments, PackageDigestAndDowngradeRules) {
    platformtest::VersionFields installed;
    installed.fileVersion[0] = 3;
    installed.fileVersion[1] = 3;
    installed.productVersion[0] = 3;
    writeFile(m_box.playerExe(), platformtest::peWithVersion(installed));  // 3.3.0.0
    std::string link = std::string("runnow='1' usehttp='1' httplink='packages/") + kPackage + "'";
    struct Case {
        const char* what;
        std::string attributes;
        std::string line;  // logged
        int packageHits;
        bool started;
        std::string ver;
    } cases[] = {
        {"a ver that is not four numbers", "sha256='" + sha256(m_package) + "' " + link,
         std::string(kPackage) + " has no ver of four numbers: 3.4", 0, false, "3.4"},
        {"another SHA-256", "sha256='" + sha256(m_package + "x") + "' allowdowngrade='1' " + link,
         "check md5 fail", 1, false, "3.2.0.1"},
        {"no sha256", "allowdowngrade='1' " + link, std::string(kPackage) + " has no sha256 of 64 hex digits", 0,
         false, "3.2.0.1"},
        {"a downgrade", "sha256='" + sha256(m_package) + "' " + link,
         "installed version 3.3.0.0 is newer than 3.2.0.1 offered by " + std::string(kPackage) +
             ": downgrade refused",
         0, false, "3.2.0.1"},
        {"an allowed downgrade", "sha256='" + sha256(m_package) + "' allowdowngrade='1' " + link,
         "run setup.exe now", 1, true, "3.2.0.1"},
    };
    int hits = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string body = document(c.attributes, c.ver);
        serve(m_mirror, kDocumentPath, body, m_key.sign(body, kDocumentName));
        m_box.removeLogs();
        std::vector<std::string> lines = runToEnd();
        EXPECT_TRUE(logged(lines, c.line)) << c.line;
        hits += c.packageHits;
        EXPECT_EQ(packageHits(), hits);
        if (c.started) {
            EXPECT_TRUE(waitUntil([&] { return fs::exists(marker()); }));
        } else {
            EXPECT_FALSE(fs::exists(savedPackage()));
            EXPECT_FALSE(fs::exists(marker()));
        }
    }
}

// The debug run's local document is held to the same rule: its signature lies beside it.
TEST_F(SignedDocuments, LocalDebugDocumentNeedsItsSignatureBesideIt) {
    writeFile(m_box.dataFolder() / "OvUpdate.ini", "[Test]\r\nprintlog=1\r\ndebug=1\r\nreadlocalxml=1\r\n");
    std::string body = goodDocument();
    fs::path local = m_box.dataFolder() / "OvUpdate_Debug.xml";
    writeFile(local, body);
    std::vector<std::string> lines = runToEnd();
    EXPECT_TRUE(logged(lines, refusalLine(windowsPath(local), "no signature")));
    EXPECT_TRUE(logged(lines, "下载安装包完成 下载状态是：0"));
    EXPECT_EQ(packageHits(), 0);

    writeFile(local.string() + ".minisig", m_key.sign(body, "OvUpdate_Debug.xml"));
    m_box.removeLogs();
    lines = runToEnd();
    EXPECT_TRUE(logged(lines, "run setup.exe now"));
    EXPECT_EQ(packageHits(), 1);
}

// The player's offer: taken with a good signature and its package checked by both digests;
// a tampered offer gets the empty reply, and nothing is downloaded.
TEST(SignedOffer, OfferIsTakenOnlyWhenSignedAndItsPackageOnlyWithItsSha256) {
    constexpr char kOfferPath[] = "/product/OvUpdate/OvUpdateInfo.xml";
    OfferServer server;
    ReleaseKey key;
    struct Case {
        const char* what;
        bool tamper;
        bool rightSha256;
        std::string offer;  // the reply to requestxml
        bool verified;      // downloadsuccess answers ok
        std::string version;
        int installedMajor;   // the installed player's version: N.0.0.0, none when 0
        std::string refused;  // the line that says why there is no offer
    } cases[] = {
        {"good", false, true, server.offerReply(), true, "3.2.0.1", 0, ""},
        {"good, for an older player", false, true, server.offerReply(), true, "3.2.0.1", 3, ""},
        {"package with another SHA-256", false, false, server.offerReply(), false, "3.2.0.1", 0, ""},
        {"tampered", true, true, "", false, "3.2.0.1", 0,
         refusalLine(server.base() + kOfferPath, "signature does not match the document")},
        {"older than the installed player", false, true, "", false, "3.2.0.1", 4,
         "installed version 4.0.0.0 is newer than 3.2.0.1 offered by " + std::string(OfferServer::kPackageName) +
             ": downgrade refused"},
        {"a version that is not four numbers", false, true, "", false, "3.2", 0, "parser xml failed:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AgentSandbox box;
        prepare(box, server);
        box.addServerSetting("publickey", key.publicKey());
        if (c.installedMajor) {
            platformtest::VersionFields installed;
            installed.fileVersion[0] = static_cast<uint16_t>(c.installedMajor);
            writeFile(box.playerExe(), platformtest::peWithVersion(installed));
        }
        std::string package = server.package() + (c.rightSha256 ? "" : "x");
        std::string offer =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<update>\r\n  <exeupdate version=\"" + c.version +
            "\" md5=\"" +
            server.packageMd5() + "\" sha256=\"" + sha256(package) + "\" url=\"" + server.base() + "/packages/" +
            OfferServer::kPackageName + "\" verinfo=\"新版本：更快的启动\" filename=\"" +
            OfferServer::kPackageName + "\"/>\r\n</update>\r\n";
        server.serveOffer(c.tamper ? offer + " " : offer, key.sign(offer, "OvUpdateInfo.xml"));
        int hitsBefore = server.packageHits();
        auto agent = box.start({"initiative"});
        {
            PlayerPipe pipe;
            ASSERT_TRUE(pipe.connected());
            EXPECT_EQ(pipe.ask("requestxml"), c.offer);
            if (!c.offer.empty()) {
                EXPECT_EQ(pipe.ask("downloadsetup"), "downloadstart");
                EXPECT_TRUE(waitUntil([&] { return logged(box.logLines(), "curl downloadsuccess"); }));
                // Verified soon after the download, or never.
                bool verified = waitUntil([&] { return pipe.ask("downloadsuccess").rfind("ok*", 0) == 0; },
                                          std::chrono::seconds(1));
                EXPECT_EQ(verified, c.verified);
            } else {
                EXPECT_TRUE(loggedPrefix(box.logLines(), c.refused)) << c.refused;
                EXPECT_EQ(server.packageHits(), hitsBefore);
            }
            pipe.send("allclose");
        }
        EXPECT_FALSE(agent->wait(10000).timedOut);
    }
}

// Without a key nothing changes: no signature is asked for, a sha256 or a downgrade in the
// document is not looked at, and nothing is remembered.
TEST_F(SignedDocuments, WithoutAKeyNothingIsCheckedNorAsked) {
    m_box.setServers(m_mirror.base(), m_maker.base());  // the deployment file anew, without a key
    m_box.setEnv("INSTALLER_MARKER", marker().u8string());
    platformtest::VersionFields installed;
    installed.fileVersion[0] = 9;
    writeFile(m_box.playerExe(), platformtest::peWithVersion(installed));  // 9.0.0.0
    std::string body = document("sha256='" + sha256("something else") +
                                "' runnow='1' usehttp='1' httplink='packages/" + kPackage + "'");
    serve(m_mirror, kDocumentPath, body, "");
    std::vector<std::string> lines = runToEnd();
    EXPECT_TRUE(logged(lines, "run setup.exe now"));
    EXPECT_TRUE(waitUntil([&] { return fs::exists(marker()); }));
    for (const std::string& path : requestedPaths(m_mirror)) EXPECT_EQ(path.find(".minisig"), std::string::npos);
    EXPECT_EQ(readFile(m_box.dataFolder() / "OvUpdate.ini").find("[signatures]"), std::string::npos);
}
