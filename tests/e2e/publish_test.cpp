// ovpublish, the release engineer's tool: a tree it builds is served and the agent updates
// from it, verify finds what is wrong with a tree, and explain agrees with the agent on a
// table of machines.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "app/md5.h"
#include "e2e/e2e_fixture.h"
#include "platform/files.h"
#include "platform/pe_builder.h"

using namespace e2e;

namespace {

// A minisign key pair made with "minisign -G -W" for these tests only.
constexpr char kSecretKey[] =
    "untrusted comment: ovpublish test key\n"
    "RWQAAEIyAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA+mJPzHO/"
    "B317fjCUqQvxXsQ2H7MPrHap9MgiV+Y8"
    "boJF43FL4KVkj1KFSg9t1W0K3fYEm+r66DQNS0Lf8S+EdgCxzy4sbDszAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\n";
constexpr char kPublicKey[] =
    "untrusted comment: minisign public key 7D07BF73CC4F62FA\n"
    "RWT6Yk/Mc78HfVKFSg9t1W0K3fYEm+r66DQNS0Lf8S+EdgCxzy4sbDsz\n";

std::string programWithVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
    platformtest::VersionFields version;
    uint16_t parts[4] = {a, b, c, d};
    for (int i = 0; i < 4; ++i) version.fileVersion[i] = parts[i];
    return platformtest::peWithVersion(version);
}

// A sandbox with the player installed and a server that serves the folder "tree" of the
// sandbox as every download domain.
class PublishWorld {
public:
    PublishWorld() {
        m_box.installPlayer();
        m_box.setPrintLog(1);
        m_box.setServers(m_http.base(), m_http.base());
        writeFile(key(), kSecretKey);
        writeFile(m_box.path() / "keys" / "test.pub", kPublicKey);
        m_http.serve("/*", [this](const testsupport::Request& r) {
            fs::path file = tree() / fs::u8path(r.path.substr(1));
            return fs::is_regular_file(file) ? Reply{readFile(file)} : Reply{"not found", 404};
        });
    }

    fs::path tree() const { return m_box.path() / "tree"; }
    fs::path key() const { return m_box.path() / "keys" / "test.key"; }
    fs::path publicKey() const { return m_box.path() / "keys" / "test.pub"; }
    fs::path product() const { return tree() / "product" / "OvUpdate"; }
    std::string url(const std::string& path) const { return m_http.url(path); }

    // Runs ovpublish; its output (standard output and error) lands in output. Each run
    // writes a file of its own: a file just written by a program that ended may not be
    // deleted at once on Windows.
    int publish(const std::vector<std::string>& args, std::string* output = nullptr) {
        std::string name = "publish-" + std::to_string(++m_runs) + ".out";
        ExitStatus s = m_box.start(args, buildProgram("ovpublish"), name)->wait(20000);
        if (output) {  // lines end in "\n" here, whatever the system wrote
            *output = readFile(m_box.path() / name);
            output->erase(std::remove(output->begin(), output->end(), '\r'), output->end());
        }
        return s.exitCode;
    }

    // The player at 3.2.0.1 with old codec.dll; a module source with a new codec.dll and
    // plugins\subtitle.dll; the installer 3.2.0.1; upcfg.xml for the module source. All
    // documents signed.
    void buildTree() {
        writeFile(m_box.playerExe(), programWithVersion(3, 2, 0, 1));
        writeFile(m_box.playerFolder() / "codec.dll", "old codec");
        writeFile(source() / "codec.dll", "new codec");
        writeFile(source() / "plugins" / "subtitle.dll", "new subtitle");
        writeFile(source() / "skin.dat", "skin");
        plat::setFileTimes(testsupport::agentPath(source() / "codec.dll"), {1600000000, 1600000000, 1600000000});
        ASSERT_EQ(publish({"modules", source().u8string(), (tree() / "modules" / "main").u8string(), "--sign",
                           key().u8string(), "--root", tree().u8string()}),
                  0);
        packageRelease("3.2.0.1");
        writeFile(product() / "upcfg.xml",
                  "<root><updates><up sdir='" + url("/modules/main") + "' percent='100'/></updates></root>");
        ASSERT_EQ(publish({"sign", "--key", key().u8string(), (product() / "upcfg.xml").u8string()}), 0);
    }
    void packageRelease(const std::string& version) {
        fs::path installer = m_box.path() / ("OrvixSetup_" + version + ".exe");
        writeFile(installer, readFile(buildProgram("OrvixSetup")));
        ASSERT_EQ(publish({"package", installer.u8string(), tree().u8string(), "--version", version, "--url",
                           url("/packages/OrvixSetup_" + version + ".exe"), "--notes", "Faster start-up", "--set",
                           "runnow=0", "--sign", key().u8string()}),
                  0);
    }
    fs::path source() const { return m_box.path() / "source"; }

    std::vector<std::string> runAgent() {
        std::vector<std::string> lines = runToEnd(m_box);
        m_box.removeLogs();
        return lines;
    }

    AgentSandbox m_box;
    HttpServer m_http;
    int m_runs = 0;
};

class Publish : public ::testing::Test, public PublishWorld {};

}  // namespace

// The player is current, so the run goes on to the modules of the tree; once a newer
// installer is published, the next run downloads it and records it for the player.
TEST_F(Publish, TreeBuiltByTheToolUpdatesTheAgent) {
    buildTree();
    std::string output;
    EXPECT_EQ(publish({"verify", tree().u8string(), "--pubkey", publicKey().u8string()}, &output), 0) << output;
#ifndef _WIN32
    for (const char* document : {"product/OvUpdate/OvUpdate.xml", "product/OvUpdate/OvUpdateInfo.xml",
                                 "product/OvUpdate/upcfg.xml", "modules/main/update.xml"}) {
        if (!fs::exists("/usr/bin/minisign")) break;
        std::string args =
            "/usr/bin/minisign -qVm " + (tree() / document).u8string() + " -p " + publicKey().u8string();
        EXPECT_EQ(std::system(args.c_str()), 0) << document;
    }
#endif

    std::vector<std::string> lines = runAgent();
    EXPECT_TRUE(logged(lines, "静默升级完成"));
    EXPECT_EQ(readFile(m_box.playerFolder() / "codec.dll"), "new codec");
    EXPECT_EQ(readFile(m_box.playerFolder() / "plugins" / "subtitle.dll"), "new subtitle");
    EXPECT_EQ(fs::last_write_time(m_box.playerFolder() / "codec.dll"),
              fs::last_write_time(source() / "codec.dll"));

    // A re-run writes the archive of the changed file only and drops the removed one's.
    writeFile(source() / "codec.dll", "newer codec");
    fs::remove(source() / "plugins" / "subtitle.dll");
    std::string summary;
    EXPECT_EQ(publish({"modules", source().u8string(), (tree() / "modules" / "main").u8string()}, &summary), 0);
    EXPECT_NE(summary.find("1 archives written, 1 unchanged, 1 removed"), std::string::npos) << summary;
    EXPECT_FALSE(fs::exists(tree() / "modules" / "main" / "bin" / "plugins" / "subtitle.dll.zip"));

    packageRelease("3.3.0.0");
    lines = runAgent();
    EXPECT_TRUE(logged(lines, "落在灰度内"));
    fs::path saved = m_box.dataFolder() / "OvUpdate" / "OrvixSetup_3.3.0.0.exe";
    EXPECT_EQ(readFile(saved), readFile(buildProgram("OrvixSetup")));
    EXPECT_NE(readFile(m_box.dataFolder() / "OvUpdate.ini").find("OrvixSetup_3.3.0.0.exe"), std::string::npos);
}

// Signatures near the end of their age are named; signing the tree again, with no file
// given, signs each of its documents under its path, and the tree verifies.
TEST_F(Publish, ExpiringSignaturesAreNamedAndTheTreeSignedAgain) {
    buildTree();
    std::vector<std::string> args = {"verify", tree().u8string(), "--pubkey", publicKey().u8string(),
                                     "--max-age-days", "3"};
    std::string output;
    EXPECT_EQ(publish(args, &output), 0) << output;
    for (const char* document : {"product/OvUpdate/OvUpdate.xml", "product/OvUpdate/OvUpdateInfo.xml",
                                 "product/OvUpdate/upcfg.xml", "modules/main/update.xml"})
        EXPECT_NE(output.find(std::string(document) + ": signature expires in "), std::string::npos)
            << output;
    EXPECT_EQ(publish({"sign", "--key", key().u8string(), "--root", tree().u8string()}, &output), 0);
    EXPECT_NE(output.find("as modules/main/update.xml\n"), std::string::npos) << output;
    EXPECT_NE(output.find("as product/OvUpdate/upcfg.xml\n"), std::string::npos) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 4) << output;
    args.back() = "30";
    EXPECT_EQ(publish(args, &output), 0) << output;
    EXPECT_EQ(output.find("expires"), std::string::npos) << output;
}

// Each fault is one line naming the file and what is wrong, and the exit code is 1.
TEST(PublishVerify, FindsWhatIsWrongWithATree) {
    struct Case {
        const char* what;
        std::function<void(PublishWorld&)> damage;
        std::string line;  // the start of the (first) line that names the fault
        long lines = 1;
    };
    std::vector<Case> cases = {
        {"corrupted archive",
         [](PublishWorld& w) {
             std::ofstream(w.tree() / "modules/main/bin/codec.dll.zip", std::ios::app) << "tail";
         },
         "modules/main/bin/codec.dll.zip: md5 is "},
        {"wrong digest in a signed document",
         [](PublishWorld& w) {
             fs::path list = w.tree() / "modules/main/update.xml";
             std::string text = readFile(list);
             size_t at = text.find("md5=\"") + 5;
             writeFile(list, text.replace(at, 32, std::string(32, '0')));
             w.publish({"sign", "--key", w.key().u8string(), "--root", w.tree().u8string(), list.u8string()});
         },
         "modules/main/bin/codec.dll.zip: unpacks to md5 "},
        {"a module list signed under its bare name",
         [](PublishWorld& w) { w.publish({"sign", "--key", w.key().u8string(), (w.tree() / "modules/main/update.xml").u8string()}); },
         "modules/main/update.xml.minisig: signed for file \"update.xml\", not modules/main/update.xml"},
        {"missing package", [](PublishWorld& w) { fs::remove(w.tree() / "packages/OrvixSetup_3.2.0.1.exe"); },
         "product/OvUpdate/OvUpdate.xml: update OrvixSetup_3.2.0.1.exe names packages/OrvixSetup_3.2.0.1.exe, "
         "which is missing",
         2},  // the offer names it too
        {"signed for another file name",
         [](PublishWorld& w) {
             for (const char* suffix : {"", ".minisig"})
                 fs::copy_file(w.product() / (std::string("OvUpdateInfo.xml") + suffix),
                               w.product() / (std::string("OvUpdateInfo_Debug.xml") + suffix));
         },
         "product/OvUpdate/OvUpdateInfo_Debug.xml.minisig: signed for file \"product/OvUpdate/OvUpdateInfo.xml\", "
         "not product/OvUpdate/OvUpdateInfo_Debug.xml"},
        {"document changed after signing",
         [](PublishWorld& w) { std::ofstream(w.product() / "upcfg.xml", std::ios::app) << "<!-- -->"; },
         "product/OvUpdate/upcfg.xml.minisig: signature does not match the document"},
        {"unsigned document", [](PublishWorld& w) { fs::remove(w.product() / "upcfg.xml.minisig"); },
         "product/OvUpdate/upcfg.xml: no signature"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PublishWorld world;
        world.buildTree();
        c.damage(world);
        std::string output;
        EXPECT_EQ(
            world.publish({"verify", world.tree().u8string(), "--pubkey", world.publicKey().u8string()}, &output),
            1);
        EXPECT_EQ(output.find(c.line), 0u) << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), c.lines) << output;
    }
}

// The same document and machine: the package explain names is the one the agent fetches.
TEST(PublishExplain, AgreesWithTheAgentOnATableOfMachines) {
    struct Machine {
        std::string player, channel, region, clientId;
        std::string expected;   // the package both should choose, "" for none
        std::string explained;  // a line of the explanation
    };
    // Client "abc" lands in rollout bucket 83 with the default seed, "b" in bucket 27.
    std::vector<Machine> machines = {
        {"2.9.0.0", "2000", "cn", "abc", "old-players.exe", "  rollout: share 100%, every machine"},
        {"3.1.0.0", "1077", "cn", "b", "", "rollout.exe: skipped (partnerid 1077 excludes channel 1077)"},
        {"3.1.0.0", "2000", "de", "abc", "everyone.exe",
         "  rollout: client id abc, seed 1000: bucket 83, share 50% (buckets below it take it)"},
        {"3.1.0.0", "2000", "de", "b", "rollout.exe",
         "  rollout: client id b, seed 1000: bucket 27, share 50% (buckets below it take it)"},
        {"3.1.0.0", "2000", "us", "b", "everyone.exe", "rollout.exe: skipped (region us is on blacklist us)"},
        {"3.1.0.0", "2000", "us", "b", "everyone.exe",
         "  critical: a background run downloads it on a metered or roaming link too"},
        {"3.3.0.0", "2000", "de", "b", "",
         "everyone.exe: skipped (local file <player folder>\\Orvix.exe version 3.3.0.0 is not older than ver "
         "3.2.0.1)"},
    };
    for (const Machine& m : machines) {
        SCOPED_TRACE(m.player + " " + m.channel + " " + m.region + " " + m.clientId);
        PublishWorld world;
        auto update = [&](const std::string& name, const std::string& attributes) {
            return "<update name='" + name + "' md5='" + app::md5OfBuffer(name.data(), name.size()) +
                   "' httplinkfull='" + world.url("/pkg/" + name) + "' " + attributes +
                   "><file name='Orvix.exe' path='1' ver='3.2.0.1'/></update>";
        };
        std::string player =
            "HKEY_LOCAL_MACHINE$$$$SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe$$$$ ";
        std::string document = "<?xml version='1.0' encoding='utf-8'?><updateinfo><Path><path name='" + player +
                               "' flag='1' reg='true'/></Path><Clientpath>" + player + "</Clientpath>" +
                               update("old-players.exe", "clientmaxver='2.9.9.9'") +
                               update("rollout.exe", "probability='50' partnerid='1077' blacklist='us'") +
                               update("everyone.exe", "whitelist='us|de' critical='1'") + "</updateinfo>";
        writeFile(world.product() / "OvUpdate.xml", document);
        for (const char* name : {"old-players.exe", "rollout.exe", "everyone.exe"})
            writeFile(world.tree() / "pkg" / name, name);
        std::vector<uint16_t> v;
        for (const std::u16string& part : text::split(text::fromUtf8(m.player), u"."))
            v.push_back(static_cast<uint16_t>(text::atoi(part)));
        writeFile(world.m_box.playerExe(), programWithVersion(v[0], v[1], v[2], v[3]));
        world.m_box.addSetting("OrvixIS.ini", "main", "client", m.channel);
        world.m_box.addSetting("Testing.ini", "Device", "ClientIDForTest", m.clientId);
        world.m_box.registry().set("HKEY_CURRENT_USER\\Kavo.FDS", "area", m.region);

        world.runAgent();
        std::string fetched;
        for (const std::string& path : requestedPaths(world.m_http))
            if (path.rfind("/pkg/", 0) == 0) fetched = path.substr(5);

        std::string output;
        ASSERT_EQ(
            world.publish({"explain", (world.product() / "OvUpdate.xml").u8string(), "--player-version", m.player,
                           "--channel", m.channel, "--region", m.region, "--client-id", m.clientId},
                          &output),
            0);
        std::string outcome = output.substr(output.find("outcome: "));
        std::string explained =
            outcome.rfind("outcome: download ", 0) == 0 ? outcome.substr(18, outcome.find(' ', 18) - 18) : "";
        EXPECT_EQ(fetched, m.expected) << output;
        EXPECT_EQ(explained, fetched) << output;
        EXPECT_NE(("\n" + output).find("\n" + m.explained + "\n"), std::string::npos) << output;
    }
}

// Every refusal is one line on its own and exit code 1.
TEST_F(Publish, ErrorsAreOneLineAndExitCode1) {
    // The same key with the key-derivation bytes of a password-protected one ("Sc").
    std::string protectedKey = kSecretKey;
    protectedKey.replace(protectedKey.find("RWQAAEIy"), 8, "RWRTY0Iy");
    writeFile(m_box.path() / "keys" / "protected.key", protectedKey);
    writeFile(m_box.path() / "setup.exe", "installer");
    std::string setup = (m_box.path() / "setup.exe").u8string();
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    std::vector<Case> cases = {
        {{"sign", "--key", (m_box.path() / "keys" / "protected.key").u8string(), setup},
         "protected by a password"},
        {{"sign", "--key", publicKey().u8string(), setup}, "not a minisign secret key"},
        {{"package", setup, tree().u8string(), "--version", "3.2", "--url", url("/setup.exe")}, "--version needs"},
        {{"package", setup, tree().u8string(), "--version", "3.2.0.1", "--url", "setup.exe"}, "--url needs"},
        {{"explain", setup, "--player-version", "1.0.0.0"}, "does not parse"},
        {{"modules", setup}, "modules needs SOURCE_DIR and OUT_DIR"},
        {{"modules", source().u8string(), tree().u8string(), "--sign", key().u8string()},
         "modules --sign needs --root DIR"},
        {{"verify", tree().u8string(), "--max-age-days", "0"}, "--max-age-days needs a positive number"},
        {{"verify", tree().u8string(), "--pubkey"}, "--pubkey needs a value"},
        {{"publish"}, "unknown command publish"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.line);
        std::string output;
        EXPECT_EQ(publish(c.args, &output), 1);
        EXPECT_EQ(output.rfind("ovpublish: ", 0), 0u) << output;
        EXPECT_NE(output.find(c.line), std::string::npos) << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    }
    EXPECT_FALSE(fs::exists(tree()));
}

namespace {

// A module of pseudo-random bytes (it does not compress), with every 4096th byte of
// release changed: a patch release of a binary.
std::string binaryModule(size_t size, int release) {
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(state >> 16);
        if (i % 4096 == 0) bytes[i] = static_cast<char>(bytes[i] + release);
    }
    return bytes;
}

}  // namespace

// A tree published with the earlier release's folder carries a patch for the changed
// module: the player at that release is updated through it, and verify applies it. A
// damaged patch is named by verify, and the agent takes the full archive instead in the
// same run.
TEST_F(Publish, DeltaFromTheEarlierReleaseUpdatesThePlayerThroughAPatch) {
#ifdef _WIN32
    GTEST_SKIP() << "this build of ovpublish makes no patches";
#endif
    buildTree();
    const std::string earlier = binaryModule(300000, 0), current = binaryModule(300000, 1);
    fs::path previous = m_box.path() / "previous", out = tree() / "modules" / "main";
    writeFile(previous / "codec.dll", earlier);
    writeFile(source() / "codec.dll", current);
    std::string output;
    ASSERT_EQ(publish({"modules", source().u8string(), out.u8string(), "--delta-from", previous.u8string(), "--sign",
                       key().u8string(), "--root", tree().u8string()}, &output), 0) << output;
    EXPECT_NE(output.find("patches: 1 written"), std::string::npos) << output;
    std::vector<std::string> verify = {"verify", tree().u8string(), "--pubkey", publicKey().u8string(),
                                       "--delta-from", previous.u8string()};
    EXPECT_EQ(publish(verify, &output), 0) << output;
    fs::path patch = out / "bin" / ("codec.dll." + app::md5OfBuffer(earlier.data(), earlier.size()) + ".patch");
    ASSERT_TRUE(fs::exists(patch));
    EXPECT_LT(fs::file_size(patch) * 5, fs::file_size(out / "bin" / "codec.dll.zip"));

    struct Case {
        const char* what;
        bool damage;
        const char* line;
    } cases[] = {{"sound", false, "patch of codec.dll applied: "},
                 {"damaged", true, "patch of codec.dll not taken (patch digest or size wrong)"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.damage) {
            std::string bytes = readFile(patch);
            bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
            writeFile(patch, bytes);
            EXPECT_EQ(publish(verify, &output), 1) << output;
            EXPECT_NE(output.find("codec.dll." + app::md5OfBuffer(earlier.data(), earlier.size()) + ".patch: size"),
                      std::string::npos) << output;
        }
        writeFile(m_box.playerFolder() / "codec.dll", earlier);
        int archives = m_http.hits("/modules/main/bin/codec.dll.zip");
        std::vector<std::string> lines = runAgent();
        EXPECT_EQ(readFile(m_box.playerFolder() / "codec.dll"), current);
        EXPECT_TRUE(loggedPrefix(lines, c.line));
        EXPECT_EQ(m_http.hits("/modules/main/bin/codec.dll.zip") - archives, c.damage ? 1 : 0);
    }
}
