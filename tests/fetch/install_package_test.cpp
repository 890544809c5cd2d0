#include "fetch/install_package.h"

#include <gtest/gtest.h>

#include "app/md5.h"
#include "app/sha256.h"
#include "app/streamed_digest.h"
#include "fetch/fetch_fixture.h"

using namespace fetchtest;

namespace {

constexpr char kPackage[] = "installer bytes";

class PackageDigest : public ::testing::Test {
protected:
    std::u16string write(const std::string& name, const std::string& bytes) {
        writeFile(m_folder.path() / name, bytes);
        return m_folder.agentPath(name);
    }

    TempFolder m_folder;
    const std::u16string m_md5 = text::fromUtf8(app::md5OfBuffer(kPackage, sizeof kPackage - 1));
};

}  // namespace

TEST_F(PackageDigest, IgnoresLetterCaseButNotLength) {
    std::u16string path = write("pkg.exe", kPackage);
    for (const std::u16string& good : {m_md5, text::toUpper(m_md5)})
        EXPECT_TRUE(fetch::packageDigestMatches(path, good));
    for (const std::u16string& bad : {m_md5.substr(0, 31), m_md5 + u" ", m_md5 + u"0", std::u16string()})
        EXPECT_FALSE(fetch::packageDigestMatches(path, bad)) << text::toUtf8(bad);
}

TEST_F(PackageDigest, EmptyOrMissingPackageNeverPasses) {
    std::u16string emptyMd5 = text::fromUtf8(app::md5OfBuffer("", 0));
    EXPECT_FALSE(fetch::packageDigestMatches(m_folder.agentPath("pkg.exe"), emptyMd5));
    EXPECT_FALSE(fetch::packageDigestMatches(write("pkg.exe", ""), emptyMd5));
}

// Cut to the path buffer, the path would name the shorter file beside the package.
TEST_F(PackageDigest, PathBeyondThePathBufferNeverPasses) {
    fs::path deep = m_folder.path() / "save";
    while (deep.string().size() < 850) deep /= std::string(100, 'd');
    std::u16string saveDirectory = text::fromUtf8(deep.string());
    size_t room = 1023 - saveDirectory.size() - 1;
    ASSERT_LT(room + 4, 255u);
    std::string cut(room, 'p');
    writeFile(deep / cut, kPackage);
    ASSERT_EQ(readFile(deep / cut), kPackage);
    EXPECT_FALSE(fetch::packageDigestMatches(saveDirectory + u"\\" + text::fromUtf8(cut + ".exe"), m_md5));
}

// The check before the package starts is made on a handle that lets others read the file
// (starting it does) but not hold it for more, and that stays open until released.
TEST_F(PackageDigest, VerifiedPackageIsHeldAgainstWritersUntilReleased) {
    std::u16string path = write("pkg.exe", kPackage);
    auto held = fetch::openVerifiedPackage(path, m_md5);
    ASSERT_TRUE(held);
    EXPECT_TRUE(plat::openFile(path, plat::OpenMode::ReadShared));
    EXPECT_FALSE(plat::openFile(path, plat::OpenMode::ReadExclusive));
    held.reset();
    EXPECT_TRUE(plat::openFile(path, plat::OpenMode::ReadExclusive));
    EXPECT_FALSE(fetch::openVerifiedPackage(path, m_md5.substr(1)));
}

// A package edited in place with its identity (size, time) put back still carries the
// digests remembered for that identity; the check before the start reads the bytes, by its
// MD5 alone as with a SHA-256.
TEST_F(PackageDigest, CheckBeforeTheStartReadsTheBytes) {
    std::u16string path = write("pkg.exe", "Xnstaller bytes");
    app::DigestPass original(true);
    original.update(kPackage, sizeof kPackage - 1);
    plat::FileIdentity identity;
    ASSERT_TRUE(plat::fileIdentity(path, identity));
    app::rememberDigests(identity, original.finish());
    const std::u16string sha256 = text::fromUtf8(app::sha256OfBuffer(kPackage, sizeof kPackage - 1));
    EXPECT_FALSE(fetch::openVerifiedPackage(path, m_md5));
    EXPECT_FALSE(fetch::openVerifiedPackage(path, m_md5, sha256));
}
