#include <gtest/gtest.h>

#include "app/md5.h"
#include "app/settings.h"
#include "fetch/engine_world.h"
#include "platform/named_mutex.h"

namespace {

constexpr char kPackage[] = "installer bytes";
constexpr char16_t kSilentUpdateObject[] = u"AEE5851B-96A7-4F3A-8C04-D2CAE21C8003";

// The messages this thread holds, in order.
std::vector<uint32_t> drainMessages() {
    std::vector<uint32_t> messages;
    for (uint32_t m; (m = EngineWorld::nextMessage(0)) != 0;) messages.push_back(m);
    return messages;
}

// A driver whose data folder, registry and runtime folder lie in the world's folder, with
// the package pkg.exe expected to carry kPackage.
class FinishRun : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::path appData = m_world.folder().path() / "appdata";
        std::filesystem::create_directories(appData / "Lumora Video" / "Orvix");
        setenv("APPDATA", appData.string().c_str(), 1);
        setenv("XDG_RUNTIME_DIR", m_world.folder().path().string().c_str(), 1);
        m_world.prepare(m_driver, u"");
        m_driver.m_update.md5 = text::fromUtf8(md5OfBuffer(kPackage, sizeof kPackage - 1));
        m_driver.m_update.nameBytes = "pkg.exe";
    }
    std::filesystem::path packageFile() const { return m_world.folder().path() / "save" / "pkg.exe"; }
    std::u16string recordedFile() const {
        return settings::readString(settings::kSectionUpdateInfo, settings::kKeyUpdateFile, u"", 260,
                                    settings::kOvUpdateIni);
    }

    EngineWorld m_world;
    UpdateDriver m_driver;
};

}  // namespace

TEST_F(FinishRun, DigestIgnoresLetterCaseButNotLength) {
    writeFile(packageFile(), kPackage);
    const std::u16string lower = m_driver.m_update.md5;
    for (const std::u16string& good : {lower, text::toUpper(lower)}) {
        m_driver.m_update.md5 = good;
        EXPECT_TRUE(m_driver.packageDigestCheck());
    }
    for (const std::u16string& bad : {lower.substr(0, 31), lower + u" ", lower + u"0", std::u16string()}) {
        m_driver.m_update.md5 = bad;
        EXPECT_FALSE(m_driver.packageDigestCheck()) << text::toUtf8(bad);
    }
}

TEST_F(FinishRun, EmptyOrMissingPackageNeverPasses) {
    m_driver.m_update.md5 = text::fromUtf8(md5OfBuffer("", 0));
    EXPECT_FALSE(m_driver.packageDigestCheck());
    writeFile(packageFile(), "");
    EXPECT_FALSE(m_driver.packageDigestCheck());
}

// Cut to the path buffer, the path would name the shorter file beside the package.
TEST_F(FinishRun, PathBeyondThePathBufferNeverPasses) {
    std::filesystem::path deep = m_world.folder().path() / "save";
    while (deep.string().size() < 850) deep /= std::string(100, 'd');
    m_driver.m_saveDirectory = text::fromUtf8(deep.string());
    size_t room = 1023 - m_driver.m_saveDirectory.size() - 1;
    ASSERT_LT(room + 4, 255u);
    std::string cut(room, 'p');
    writeFile(deep / cut, kPackage);
    ASSERT_EQ(readFile(deep / cut), kPackage);
    m_driver.m_update.name = text::fromUtf8(cut + ".exe");
    EXPECT_FALSE(m_driver.packageDigestCheck());
}

TEST_F(FinishRun, VerifiedPackageIsRecordedAndTheRunEnds) {
    writeFile(packageFile(), kPackage);
    m_driver.finishUpdateRun(kRunPackagePresent, false);
    EXPECT_EQ(recordedFile(), u"pkg.exe");
    EXPECT_EQ(drainMessages(), std::vector<uint32_t>{UM_UPDATE_RUN_DONE});
}

TEST_F(FinishRun, BadPackageFromHttpEndsTheRunUntouched) {
    writeFile(packageFile(), "something else");
    m_driver.finishUpdateRun(kRunDownloaded, false);
    EXPECT_EQ(recordedFile(), u"");
    EXPECT_EQ(readFile(packageFile()), "something else");
    EXPECT_EQ(drainMessages(), std::vector<uint32_t>{UM_UPDATE_RUN_DONE});
}

// A package the engine reported whole but that fails its digest is fetched over HTTP once;
// whatever that download brings, the run then ends once.
TEST_F(FinishRun, BadPackageFromEngineIsFetchedOverHttpOnce) {
    for (const std::string served : {std::string(kPackage), std::string("still wrong")}) {
        SCOPED_TRACE(served);
        LocalServer server;
        int requests = 0;
        server.server.Get("/pkg.exe", [&](const httplib::Request&, httplib::Response& res) {
            ++requests;
            res.set_content(served, "application/octet-stream");
        });
        m_driver.m_update.httplinkfull = server.url("/pkg.exe");
        writeFile(packageFile(), "half from the engine");
        std::filesystem::remove(m_world.folder().path() / "appdata" / "Lumora Video" / "Orvix" / "OvUpdate.ini");

        m_driver.finishUpdateRun(kRunDownloaded, true);
        EXPECT_EQ(requests, 1);
        EXPECT_EQ(readFile(packageFile()), served);
        EXPECT_EQ(recordedFile(), served == kPackage ? u"pkg.exe" : u"");
        EXPECT_EQ(drainMessages(), std::vector<uint32_t>{UM_UPDATE_RUN_DONE});
    }
}

TEST_F(FinishRun, EveryOtherStatusEndsTheRunOnceWithoutTheSilentObjectLeftBehind) {
    for (int status : {kRunNothingToDo, kRunNoDocument, kRunNoUpdate, 4, kRunDownloadFailed, 7}) {
        SCOPED_TRACE(status);
        m_driver.finishUpdateRun(status, false);
        EXPECT_EQ(drainMessages(), std::vector<uint32_t>{UM_UPDATE_RUN_DONE});
        EXPECT_EQ(plat::openNamedMutex(kSilentUpdateObject), nullptr);
    }
}

TEST_F(FinishRun, RunWithoutPackageStillEndsWhileAnotherUpdaterHoldsTheSilentObject) {
    plat::MutexHandle other = plat::createNamedMutex(kSilentUpdateObject, false, true);
    ASSERT_NE(other, nullptr);
    m_driver.finishUpdateRun(kRunNoUpdate, false);
    EXPECT_EQ(drainMessages(), std::vector<uint32_t>{UM_UPDATE_RUN_DONE});
    plat::closeMutex(other);
}
