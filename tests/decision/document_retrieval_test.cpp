#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>

#include "app/log.h"
#include "decision/decision_fixture.h"
#include "platform/clock.h"
#include "support/fake_clock.h"
#include "support/http_server.h"

using fetch::Verdict;
using testsupport::Reply;

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

class DocumentRetrieval : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        m_clock.onSleep = [this](uint32_t ms) { m_events.add("sleep " + std::to_string(ms)); };
        for (const char* d : {"/d1", "/d2", "/d3"}) m_domains.push_back(text::fromUtf8(m_server.url(d)));
    }
    // Every request is recorded; answer decides by the running request count whether the
    // reply is m_body or a failure.
    void serve(std::function<bool(int count, const std::string& path)> answer) {
        m_server.serve("*", [this, answer](const testsupport::Request& req) {
            m_events.add("GET " + req.path);
            return answer(++m_requests, req.path) ? Reply{m_body} : Reply{"", 500};
        });
    }
    // A whole run of the decision by a driver of its own, for client identifier "abc".
    decision::RunDecision decide() {
        decision::UpdateDriver driver;
        driver.m_documentDomains = m_domains;
        std::u16string clientId = u"abc";
        return driver.decide(clientId);
    }
    void setTestKeys(int debug, int readLocal) {
        writeFile(dataFolder() / "OvUpdate.ini", "[Test]\r\ndebug=" + std::to_string(debug) +
                                                     "\r\nreadlocalxml=" + std::to_string(readLocal) + "\r\n");
    }

    Events m_events;
    testsupport::FakeClock m_clock;
    testsupport::HttpServer m_server;
    std::atomic<int> m_requests{0};
    std::string m_body = kDocument;
    std::vector<std::u16string> m_domains;
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
    EXPECT_EQ(decide().verdict, Verdict::NoDocument);
    EXPECT_EQ(m_events.list(),
              join({pass(), {"sleep 60000"}, pass(), {"sleep 300000"}, pass(), {"sleep 600000"}, pass()}));
}

TEST_F(DocumentRetrieval, FirstDomainThatAnswersIsUsed) {
    serve([](int count, const std::string&) { return count == 2; });
    decision::RunDecision d = decide();
    EXPECT_EQ(m_events.list(), (std::vector<std::string>{"GET /d1/product/OvUpdate/OvUpdate.xml",
                                                         "GET /d2/product/OvUpdate/OvUpdate.xml"}));
    EXPECT_EQ(d.verdict, Verdict::Download);  // the document was walked
    EXPECT_EQ(d.job.package.name, u"p.exe");
    EXPECT_EQ(d.job.saveDirectory, app::settings::dataFolder() + u"\\OvUpdate");
}

TEST_F(DocumentRetrieval, RetryCycleThatSucceedsEndsTheWaiting) {
    serve([](int count, const std::string&) { return count == 5; });
    decision::UpdateDriver driver;
    driver.m_documentDomains = m_domains;
    std::string body;
    EXPECT_TRUE(driver.fetchUpdateDocument(u"product/OvUpdate/OvUpdate.xml", body));
    EXPECT_EQ(body, kDocument);
    std::vector<std::string> expected = join({pass(), {"sleep 60000"}, pass()});
    expected.pop_back();
    EXPECT_EQ(m_events.list(), expected);
}

TEST_F(DocumentRetrieval, DebugSwitchesChooseTheDocument) {
    serve([](int, const std::string&) { return true; });
    writeFile(dataFolder() / "OvUpdate.xml", "stale");

    // readlocalxml alone has no effect: the server document, and the stale copy goes.
    setTestKeys(0, 1);
    decide();
    EXPECT_EQ(m_events.list(), (std::vector<std::string>{"GET /d1/product/OvUpdate/OvUpdate.xml"}));
    EXPECT_FALSE(fs::exists(dataFolder() / "OvUpdate.xml"));

    setTestKeys(1, 0);
    decide();
    EXPECT_EQ(m_events.list().back(), "GET /d1/product/OvUpdate/OvUpdate_Debug.xml");
}

TEST_F(DocumentRetrieval, LocalDebugDocument) {
    serve([](int, const std::string&) { return true; });
    setTestKeys(1, 1);
    EXPECT_EQ(decide().verdict, Verdict::NothingToDo);
    EXPECT_TRUE(m_events.list().empty());

    // Read as it is, byte-order mark included; never fetched.
    writeFile(dataFolder() / "OvUpdate_Debug.xml", std::string("\xEF\xBB\xBF") + kDocument);
    decision::RunDecision d = decide();
    EXPECT_EQ(d.verdict, Verdict::Download);
    EXPECT_EQ(d.job.package.name, u"p.exe");
    EXPECT_TRUE(m_events.list().empty());
    EXPECT_TRUE(fs::exists(dataFolder() / "OvUpdate_Debug.xml"));
}

TEST(DocumentBody, CleaningCutsTheByteOrderMarkAndTheTail) {
    EXPECT_EQ(decision::cleanDocumentBody("\xEF\xBB\xBF<a/>\r\ntrailing bytes"), "<a/>");
    EXPECT_EQ(decision::cleanDocumentBody("<a><b/></a>"), "<a><b/></a>");
    EXPECT_EQ(decision::cleanDocumentBody("\xEF\xBB\xBF>"), "\xEF\xBB\xBF>");  // 4 bytes or less stay
    EXPECT_EQ(decision::cleanDocumentBody("\xEF\xBB\xBF>x"), ">");
    EXPECT_EQ(decision::cleanDocumentBody("ab>x"), "ab>x");
    EXPECT_EQ(decision::cleanDocumentBody("no markup at all"), "");
}

TEST_F(DocumentRetrieval, DownloadedBodiesThatCannotBeWalked) {
    serve([](int, const std::string&) { return true; });
    struct Case {
        std::string body;
        Verdict verdict;
    } cases[] = {
        {"", Verdict::NoDocument},
        {"<info><update name='a'></info>", Verdict::NoUpdate},  // not well formed
        {"plain text without markup", Verdict::NoUpdate},       // cleaned to nothing
        {"\xEF\xBB\xBF<info/>\r\n\x1A", Verdict::NoUpdate},     // parses, holds no update
    };
    for (const Case& c : cases) {
        m_body = c.body;
        EXPECT_EQ(decide().verdict, c.verdict) << c.body;
    }
    EXPECT_EQ(m_requests, 4);  // each answer is taken at once
}

TEST_F(DocumentRetrieval, PrintLogCopyOnlyWithLogging) {
    fs::path before = fs::current_path();
    fs::create_directories(path() / "cwd");
    fs::current_path(path() / "cwd");
    serve([](int, const std::string&) { return true; });
    m_body = std::string("\xEF\xBB\xBF") + kDocument + "\r\n";
    decide();
    EXPECT_FALSE(fs::exists("OvUpdatePrintLog.xml"));

    app::diag::setLogging(true);
    decide();
    app::diag::setLogging(false);
    EXPECT_EQ(readFile("OvUpdatePrintLog.xml"), kDocument);
    fs::current_path(before);
}
