#include "fetch/crash_report.h"

#include <gtest/gtest.h>

#include "app/settings.h"
#include "fetch/fetch_fixture.h"

using namespace fetchtest;

namespace {

// A post's form, part by part: "name=value", or "name;filename=content" for a file.
std::vector<std::string> form(const testsupport::Request& post) {
    std::vector<std::string> parts;
    for (const testsupport::FormPart& p : post.parts)
        parts.push_back((p.filename.empty() ? p.name : p.name + ";" + p.filename) + "=" + p.content);
    return parts;
}

// The player's data folder in a host sandbox, and the program's endpoint as the collection
// host, answering "success".
class CrashReports : public HostTest {
protected:
    void SetUp() override {
        endpoint().serve("/p", Reply{"success"});
        fs::create_directories(dataFolder());
    }
    void deliver() { fetch::deliverCrashReports(u"abc", text::fromUtf8(m_endpoint.base())); }
    HttpServer& endpoint() { return m_endpoint; }
    void announce(const std::string& dumpPath, const std::string& dumpZip, const std::string& logZip) {
        writeFile(dataFolder() / "orvix.ini", "[CrashReport]\r\nDumpPath=" + dumpPath + "\r\nDumpZipPathName=" +
                                                  dumpZip + "\r\nLogZipPathName=" + logZip + "\r\n");
    }
    std::string setting(const char16_t* key) {
        return text::toUtf8(
            app::settings::readString(app::settings::kSectionCrashReport, key, u"<none>", 520, app::settings::kOrvixIni));
    }
    // Every request the endpoint had, as the forms posted.
    std::vector<std::vector<std::string>> posts() {
        std::vector<std::vector<std::string>> forms;
        for (const testsupport::Request& r : endpoint().requests()) forms.push_back(form(r));
        return forms;
    }

private:
    HttpServer m_endpoint;
};

}  // namespace

TEST_F(CrashReports, ErrorFileIsPostedAsTheFormAndDeletedOnSuccess) {
    writeFile(dataFolder() / "qserr.dat", std::string("err\0or", 6));
    deliver();
    ASSERT_EQ(posts().size(), 1u);
    EXPECT_EQ(posts()[0],
              (std::vector<std::string>{"ct=141212_crash", "p=11", "p1=114", "pf=201", "pu=", "t=11", "u=abc",
                                        "optional;optional_data=" + std::string("err\0or", 6)}));
    EXPECT_FALSE(fs::exists(dataFolder() / "qserr.dat"));
}

TEST_F(CrashReports, AnnouncedDumpAndLogAreDeliveredAndTheirAnnouncementsCleared) {
    announce("c:\\dumps", "dump.zip", "logs\\log.zip");
    writeFile(dataFolder() / "dump.zip", "DUMP");
    writeFile(dataFolder() / "logs/log.zip", "LOG");
    deliver();
    ASSERT_EQ(posts().size(), 2u);  // no qserr.dat: nothing sent for it
    EXPECT_EQ(posts()[0], (std::vector<std::string>{"addr=c:\\dumps", "ct=151215_clientdump", "p=11", "p1=1101",
                                                    "pf=201", "pu=", "t=11", "u=abc", "optional;dump.zip=DUMP"}));
    EXPECT_EQ(posts()[1].back(), "optional;logs\\log.zip=LOG");
    EXPECT_FALSE(fs::exists(dataFolder() / "dump.zip"));
    EXPECT_FALSE(fs::exists(dataFolder() / "logs/log.zip"));
    EXPECT_EQ(setting(app::settings::kKeyDumpZipPathName), "");
    EXPECT_EQ(setting(app::settings::kKeyLogZipPathName), "");
    EXPECT_EQ(setting(app::settings::kKeyDumpPath), "");
}

TEST_F(CrashReports, DumpPathStaysUntilTheLogIsDelivered) {
    announce("c:\\dumps", "dump.zip", "log.zip");
    writeFile(dataFolder() / "dump.zip", "DUMP");
    writeFile(dataFolder() / "log.zip", "LOG");
    endpoint().serve("/p", [](const testsupport::Request& post) {
        return Reply{form(post).back() == "optional;dump.zip=DUMP" ? "success" : "busy"};
    });
    deliver();
    EXPECT_EQ(setting(app::settings::kKeyDumpZipPathName), "");
    EXPECT_EQ(setting(app::settings::kKeyDumpPath), "c:\\dumps");
    EXPECT_EQ(setting(app::settings::kKeyLogZipPathName), "log.zip");
    EXPECT_TRUE(fs::exists(dataFolder() / "log.zip"));
}

TEST_F(CrashReports, OnlyTheExactBodySuccessCounts) {
    struct Case {
        int status;
        std::string body;
        bool deleted;
    } cases[] = {{200, "Success", false}, {200, "success\n", false}, {404, "nope", false}, {500, "success", true}};
    for (const Case& c : cases) {
        writeFile(dataFolder() / "qserr.dat", "err");
        endpoint().serve("/p", Reply{c.body, c.status});
        deliver();
        EXPECT_EQ(fs::exists(dataFolder() / "qserr.dat"), !c.deleted) << c.status << " " << c.body;
    }
}

TEST_F(CrashReports, WhatIsNotSent) {
    writeFile(dataFolder() / "qserr.dat", "");  // empty: stays, not sent
    announce("", "dump.zip", "");               // a dump needs its DumpPath
    writeFile(dataFolder() / "dump.zip", "DUMP");
    deliver();
    EXPECT_TRUE(posts().empty());
    EXPECT_TRUE(fs::exists(dataFolder() / "qserr.dat"));
    EXPECT_TRUE(fs::exists(dataFolder() / "dump.zip"));

    // Names that lead out of the data folder are never sent, and what they name stays.
    writeFile(dataFolder().parent_path() / "secret.txt", "SECRET");
    for (const char* outside : {"..\\secret.txt", "..\\Orvix\\..\\secret.txt", "sub\\..\\..\\secret.txt"}) {
        announce("d", "", outside);
        deliver();
        EXPECT_TRUE(posts().empty()) << outside;
    }
    EXPECT_TRUE(fs::exists(dataFolder().parent_path() / "secret.txt"));

    // A log goes without DumpPath, with an empty "addr".
    announce("", "", "log.zip");
    writeFile(dataFolder() / "log.zip", "LOG");
    deliver();
    ASSERT_EQ(posts().size(), 1u);
    EXPECT_EQ(posts()[0].front(), "addr=");
}
