#include "fetch/crash_report.h"

#include <gtest/gtest.h>

#include <mutex>

#include "app/settings.h"
#include "fetch/test_support.h"
#include "platform/sandbox.h"

namespace fs = std::filesystem;

namespace {

struct Post {
    std::vector<std::string> parts;  // "name=value", or "name;filename=content" for a file
};

// One collection endpoint for the whole test program: the endpoint address is read once per
// process, so the endpoint lives as long (repeated runs of the suite included).
class Endpoint {
public:
    Endpoint() {
        server.server.Post("/p", [this](const httplib::Request&, httplib::Response& res,
                                        const httplib::ContentReader& reader) {
            Post post;
            std::string* current = nullptr;
            reader(
                [&](const httplib::MultipartFormData& h) {
                    post.parts.push_back(h.filename.empty() ? h.name + "=" : h.name + ";" + h.filename + "=");
                    current = &post.parts.back();
                    return true;
                },
                [&](const char* data, size_t size) {
                    current->append(data, size);
                    return true;
                });
            std::lock_guard<std::mutex> lock(mutex);
            posts.push_back(post);
            res.status = status;
            res.set_content(answer(post), "text/plain");
        });
        writeFile(folder.path() / "deploy.ini",
                  "[servers]\ndomain1=http://127.0.0.1:9\ndomain2=http://127.0.0.1:9\ndomain3=http://127.0.0.1:9\n"
                  "report=" + text::toUtf8(server.base()) + "\n");
    }
    void reset() {
        std::lock_guard<std::mutex> lock(mutex);
        posts.clear();
        status = 200;
        answer = [](const Post&) { return std::string("success"); };
    }

    TempFolder folder;
    LocalServer server;
    std::mutex mutex;
    std::vector<Post> posts;
    int status = 200;
    std::function<std::string(const Post&)> answer;
};

Endpoint& endpoint() {
    static Endpoint instance;
    return instance;
}

// The player's data folder in a sandbox, and the suite's endpoint as the collection host.
class CrashReports : public Sandbox {
protected:
    void SetUp() override {
        Sandbox::SetUp();
        const char* deploy = std::getenv("OVUPDATE_DEPLOY");
        m_saved.emplace_back("OVUPDATE_DEPLOY", deploy ? std::optional<std::string>(deploy) : std::nullopt);
        setenv("OVUPDATE_DEPLOY", (endpoint().folder.path() / "deploy.ini").string().c_str(), 1);
        std::filesystem::create_directories(dataFolder());
        endpoint().reset();
    }
    std::filesystem::path dataFolder() const { return native("appdata/Lumora Video/Orvix"); }
    void deliver() { fetch::deliverCrashReports(u"abc"); }
    void announce(const std::string& dumpPath, const std::string& dumpZip, const std::string& logZip) {
        writeFile(dataFolder() / "orvix.ini", "[CrashReport]\r\nDumpPath=" + dumpPath + "\r\nDumpZipPathName=" +
                                                  dumpZip + "\r\nLogZipPathName=" + logZip + "\r\n");
    }
    std::string setting(const char16_t* key) {
        return text::toUtf8(settings::readString(settings::kSectionCrashReport, key, u"<none>", 520,
                                                 settings::kOrvixIni));
    }
    std::vector<Post> posts() { return endpoint().posts; }
};

}  // namespace

TEST_F(CrashReports, ErrorFileIsPostedAsTheFormAndDeletedOnSuccess) {
    writeFile(dataFolder() / "qserr.dat", std::string("err\0or", 6));
    deliver();
    ASSERT_EQ(posts().size(), 1u);
    EXPECT_EQ(posts()[0].parts,
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
    EXPECT_EQ(posts()[0].parts,
              (std::vector<std::string>{"addr=c:\\dumps", "ct=151215_clientdump", "p=11", "p1=1101", "pf=201", "pu=",
                                        "t=11", "u=abc", "optional;dump.zip=DUMP"}));
    EXPECT_EQ(posts()[1].parts.back(), "optional;logs\\log.zip=LOG");
    EXPECT_FALSE(fs::exists(dataFolder() / "dump.zip"));
    EXPECT_FALSE(fs::exists(dataFolder() / "logs/log.zip"));
    EXPECT_EQ(setting(settings::kKeyDumpZipPathName), "");
    EXPECT_EQ(setting(settings::kKeyLogZipPathName), "");
    EXPECT_EQ(setting(settings::kKeyDumpPath), "");
}

TEST_F(CrashReports, DumpPathStaysUntilTheLogIsDelivered) {
    announce("c:\\dumps", "dump.zip", "log.zip");
    writeFile(dataFolder() / "dump.zip", "DUMP");
    writeFile(dataFolder() / "log.zip", "LOG");
    endpoint().answer = [](const Post& p) { return p.parts.back() == "optional;dump.zip=DUMP" ? "success" : "busy"; };
    deliver();
    EXPECT_EQ(setting(settings::kKeyDumpZipPathName), "");
    EXPECT_EQ(setting(settings::kKeyDumpPath), "c:\\dumps");
    EXPECT_EQ(setting(settings::kKeyLogZipPathName), "log.zip");
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
        endpoint().status = c.status;
        endpoint().answer = [&](const Post&) { return c.body; };
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

    // A log goes without DumpPath, with an empty "addr".
    announce("", "", "log.zip");
    writeFile(dataFolder() / "log.zip", "LOG");
    deliver();
    ASSERT_EQ(posts().size(), 1u);
    EXPECT_EQ(posts()[0].parts.front(), "addr=");
}
