#include "fetch/install_package.h"

#include <gtest/gtest.h>

#include "app/md5.h"
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
    const std::u16string m_md5 = text::fromUtf8(md5OfBuffer(kPackage, sizeof kPackage - 1));
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
    std::u16string emptyMd5 = text::fromUtf8(md5OfBuffer("", 0));
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
