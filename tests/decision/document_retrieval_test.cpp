#include <gtest/gtest.h>
#include <unistd.h>

#include <mutex>

#include "app/log.h"
#include "decision/driver_fixture.h"
#include "platform/clock.h"

namespace fs = std::filesystem;

namespace {

constexpr char kDocument[] =
    "<info><update name='p.exe' probability='100'><file name='absent.dll' path='9'/></update></info>";

// What happened, in order: "GET <path>" for each request, "sleep <ms>" for each wait.
class Events {
public:
    void add(const std::string& e) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(e);
    }
    std::vector<std::string> list() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_events;
};

class FakeClock : public plat::Clock {
public:
    explicit FakeClock(Events& events) : m_events(events) {}
    void sleepMs(uint32_t ms) override { m_events.add("sleep " + std::to_string(ms)); }
    uint64_t monotonicMs() override { return 0; }
    plat::LocalDate today() override { return {2024, 1, 1}; }

private:
    Events& m_events;
};

class DocumentRetrieval : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        plat::setClock(&m_clock);
        for (const char* d : {"/d1", "/d2", "/d3"}) m_driver.m_documentDomains.push_back(m_server.url(d));
    }
    void TearDown() override {
        plat::setClock(nullptr);
        DriverTest::TearDown();
    }
    // Every request is recorded; answer decides the reply by the running request count.
    void serve(std::function<bool(int count, const std::string& path)> answer) {
        m_server.server.Get(".*", [this, answer](const httplib::Request& req, httplib::Response& res) {
            m_events.add("GET " + req.path);
            if (answer(++m_requests, req.path)) res.set_content(kDocument, "text/xml");
            else res.status = 500;
        });
    }
    void setTestKeys(int debug, int readLocal) {
        writeFile(dataFolder() / "OvUpdate.ini", "[Test]\r\ndebug=" + std::to_string(debug) +
                                                     "\r\nreadlocalxml=" + std::to_string(readLocal) + "\r\n");
    }

    Events m_events;
    FakeClock m_clock{m_events};
    LocalServer m_server;
    std::atomic<int> m_requests{0};
};

// One pass over the three domains.
std::vector<std::string> pass() {
    return {"GET /d1/product/OvUpdate/OvUpdate.xml", "GET /d2/product/OvUpdate/OvUpdate.xml",
            "GET /d3/product/OvUpdate/OvUpdate.xml"};
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

TEST_F(DocumentRetrieval, AllDomainsDownFollowTheRetrySchedule) {
    serve([](int, const std::string&) { return false; });
    m_driver.startUpdateRun();
    EXPECT_EQ(m_driver.m_runStatus, kRunNoDocument);
    EXPECT_EQ(m_events.list(), join({pass(), {"sleep 60000"}, pass(), {"sleep 300000"}, pass(),
                                     {"sleep 600000"}, pass()}));
}

TEST_F(DocumentRetrieval, FirstDomainThatAnswersIsUsed) {
    serve([](int count, const std::string&) { return count == 2; });
    m_driver.startUpdateRun();
    EXPECT_EQ(m_events.list(), (std::vector<std::string>{"GET /d1/product/OvUpdate/OvUpdate.xml",
                                                         "GET /d2/product/OvUpdate/OvUpdate.xml"}));
    EXPECT_EQ(m_driver.m_documentBody, kDocument);
    EXPECT_EQ(m_driver.m_update.name, u"p.exe");  // the document was walked
}

TEST_F(DocumentRetrieval, RetryCycleThatSucceedsEndsTheWaiting) {
    serve([](int count, const std::string&) { return count == 5; });
    EXPECT_TRUE(m_driver.fetchUpdateDocument(u"product/OvUpdate/OvUpdate.xml"));
    std::vector<std::string> expected = join({pass(), {"sleep 60000"}, pass()});
    expected.pop_back();
    EXPECT_EQ(m_events.list(), expected);
}

TEST_F(DocumentRetrieval, DebugSwitchesChooseTheDocument) {
    serve([](int, const std::string&) { return true; });
    writeFile(dataFolder() / "OvUpdate.xml", "stale");

    // readlocalxml alone has no effect: the server document, and the stale copy goes.
    setTestKeys(0, 1);
    m_driver.startUpdateRun();
    EXPECT_EQ(m_events.list(), (std::vector<std::string>{"GET /d1/product/OvUpdate/OvUpdate.xml"}));
    EXPECT_FALSE(fs::exists(dataFolder() / "OvUpdate.xml"));

    UpdateDriver debugRun;
    debugRun.m_documentDomains = m_driver.m_documentDomains;
    setTestKeys(1, 0);
    debugRun.startUpdateRun();
    EXPECT_EQ(m_events.list().back(), "GET /d1/product/OvUpdate/OvUpdate_Debug.xml");
}

TEST_F(DocumentRetrieval, LocalDebugDocument) {
    serve([](int, const std::string&) { return true; });
    setTestKeys(1, 1);
    m_driver.startUpdateRun();
    EXPECT_EQ(m_driver.m_runStatus, kRunNothingToDo);
    EXPECT_TRUE(m_events.list().empty());

    // Read as it is, byte-order mark included; never fetched.
    writeFile(dataFolder() / "OvUpdate_Debug.xml", std::string("\xEF\xBB\xBF") + kDocument);
    UpdateDriver local;
    local.startUpdateRun();
    EXPECT_EQ(local.m_update.name, u"p.exe");
    EXPECT_TRUE(m_events.list().empty());
    EXPECT_TRUE(fs::exists(dataFolder() / "OvUpdate_Debug.xml"));
}

TEST(DocumentBody, CleaningCutsTheByteOrderMarkAndTheTail) {
    EXPECT_EQ(cleanDocumentBody("\xEF\xBB\xBF<a/>\r\ntrailing bytes"), "<a/>");
    EXPECT_EQ(cleanDocumentBody("<a><b/></a>"), "<a><b/></a>");
    EXPECT_EQ(cleanDocumentBody("\xEF\xBB\xBF>"), "\xEF\xBB\xBF>");  // 4 bytes or less stay
    EXPECT_EQ(cleanDocumentBody("\xEF\xBB\xBF>x"), ">");
    EXPECT_EQ(cleanDocumentBody("ab>x"), "ab>x");
    EXPECT_EQ(cleanDocumentBody("no markup at all"), "");
}

TEST_F(DocumentRetrieval, DownloadedBodiesThatCannotBeWalked) {
    struct Case {
        std::string body;
        int status;
    } cases[] = {
        {"", kRunNoDocument},
        {"<info><update name='a'></info>", kRunNoUpdate},  // not well formed
        {"plain text without markup", kRunNoUpdate},        // cleaned to nothing
        {"\xEF\xBB\xBF<info/>\r\n\x1A", kRunNoUpdate},      // parses, holds no update
    };
    for (const Case& c : cases) {
        UpdateDriver driver;
        driver.m_documentBody = c.body;
        driver.processDownloadedDocument();
        EXPECT_EQ(driver.m_runStatus, c.status) << c.body;
    }
}

TEST_F(DocumentRetrieval, PrintLogCopyOnlyWithLogging) {
    fs::path before = fs::current_path();
    fs::create_directories(m_root.path() / "cwd");
    fs::current_path(m_root.path() / "cwd");
    m_driver.m_documentBody = std::string("\xEF\xBB\xBF") + kDocument + "\r\n";
    m_driver.processDownloadedDocument();
    EXPECT_FALSE(fs::exists("OvUpdatePrintLog.xml"));

    diag::setLogging(true);
    UpdateDriver logged;
    logged.m_documentBody = m_driver.m_documentBody;
    logged.processDownloadedDocument();
    diag::setLogging(false);
    EXPECT_EQ(readFile("OvUpdatePrintLog.xml"), kDocument);
    fs::current_path(before);
}
