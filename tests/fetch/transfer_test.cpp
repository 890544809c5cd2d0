#include "fetch/transfer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

#include "fetch/test_support.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Shrinks the limits so the bounded-time cases end quickly; restores them afterwards.
class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = fetch::transferLimits();
        fetch::transferLimits().stallMs = 300;
        fetch::transferLimits().connectTimeoutMs = 2000;
    }
    void TearDown() override { fetch::transferLimits() = m_saved; }

    LocalServer m_server;
    TempFolder m_folder;

private:
    fetch::TransferLimits m_saved;
};

std::string gzip(const std::string& plain) {
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, plain.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct Part {
    std::string name, filename, content;
};

// Reads a multipart form part by part, in wire order.
std::vector<Part> readParts(const httplib::ContentReader& reader) {
    std::vector<Part> parts;
    reader(
        [&](const httplib::MultipartFormData& header) {
            parts.push_back({header.name, header.filename, ""});
            return true;
        },
        [&](const char* data, size_t size) {
            parts.back().content.append(data, size);
            return true;
        });
    return parts;
}

std::vector<std::string> names(const std::vector<Part>& parts) {
    std::vector<std::string> out;
    for (const Part& p : parts) out.push_back(p.filename.empty() ? p.name : p.name + ";" + p.filename);
    return out;
}

}  // namespace

TEST_F(TransferTest, GetSendsTheFixedHeadersAndOffersGzipOnlyWhenAsked) {
    httplib::Headers seen;
    std::string method;
    m_server.server.Get("/doc", [&](const httplib::Request& req, httplib::Response& res) {
        seen = req.headers;
        method = req.method;
        res.set_content("<a/>", "application/octet-stream");
    });
    fetch::TransferRequest request;
    request.url = m_server.url("/doc");
    ASSERT_TRUE(fetch::performTransfer(request));
    EXPECT_EQ(request.responseBody, "<a/>");
    EXPECT_EQ(method, "GET");
    auto header = [&](const char* name) {
        auto it = seen.find(name);
        return it == seen.end() ? std::string("<absent>") : it->second;
    };
    EXPECT_EQ(header("Pragma"), "no-cache");
    EXPECT_EQ(header("Cache-Control"), "no-cache");
    EXPECT_EQ(header("Connection"), "close");
    EXPECT_EQ(header("Accept"), "*/*");
    EXPECT_EQ(header("Expect"), "<absent>");
    EXPECT_EQ(header("Accept-Encoding"), "gzip");

    fetch::TransferRequest plain;
    plain.url = m_server.url("/doc");
    plain.acceptCompressed = false;
    ASSERT_TRUE(fetch::performTransfer(plain));
    EXPECT_EQ(header("Accept-Encoding"), "<absent>");
}

TEST_F(TransferTest, GzipAnswerIsDecoded) {
    std::string text(20000, 'x');
    m_server.server.Get("/z", [&](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Encoding", "gzip");
        res.set_content(gzip(text), "application/octet-stream");
    });
    fetch::TransferRequest request;
    request.url = m_server.url("/z");
    ASSERT_TRUE(fetch::performTransfer(request));
    EXPECT_EQ(request.responseBody, text);
}

TEST_F(TransferTest, FormPostsTextPartsByNameThenTheBinaryPart) {
    std::vector<Part> parts;
    std::string contentType;
    m_server.server.Post("/p", [&](const httplib::Request& req, httplib::Response& res,
                                   const httplib::ContentReader& reader) {
        contentType = req.get_header_value("Content-Type");
        parts = readParts(reader);
        res.set_content("success", "text/plain");
    });
    fetch::TransferRequest request;
    request.url = m_server.url("/p");
    request.formFields[u"u"] = u"客户";
    request.formFields[u"addr"] = u"c:\\dumps";
    request.formFields[u"ct"] = u"1";
    request.formFields[u"pu"] = u"";
    request.uploadData = std::string("bin\0ary", 7);
    request.uploadBufferName = "crash.zip";
    ASSERT_TRUE(fetch::performTransfer(request));
    EXPECT_EQ(request.responseBody, "success");
    EXPECT_EQ(contentType.rfind("multipart/form-data", 0), 0u);
    ASSERT_EQ(names(parts), (std::vector<std::string>{"addr", "ct", "pu", "u", "optional;crash.zip"}));
    EXPECT_EQ(parts[0].content, "c:\\dumps");
    EXPECT_EQ(parts[2].content, "");
    EXPECT_EQ(parts[3].content, "客户");
    EXPECT_EQ(parts[4].content, std::string("bin\0ary", 7));
}

TEST_F(TransferTest, BinaryPartNeedsBothDataAndName) {
    std::vector<std::string> methods;
    std::vector<Part> parts;
    m_server.server.Post("/p", [&](const httplib::Request& req, httplib::Response& res,
                                   const httplib::ContentReader& reader) {
        methods.push_back(req.method);
        parts = readParts(reader);
        res.set_content("ok", "text/plain");
    });
    m_server.server.Get("/p", [&](const httplib::Request& req, httplib::Response& res) {
        methods.push_back(req.method);
        res.set_content("ok", "text/plain");
    });

    fetch::TransferRequest onlyData;  // default announced name
    onlyData.url = m_server.url("/p");
    onlyData.uploadData = "dump";
    ASSERT_TRUE(fetch::performTransfer(onlyData));
    fetch::TransferRequest noName;  // data without a name: nothing to post
    noName.url = m_server.url("/p");
    noName.uploadData = "dump";
    noName.uploadBufferName.clear();
    ASSERT_TRUE(fetch::performTransfer(noName));

    ASSERT_EQ(methods, (std::vector<std::string>{"POST", "GET"}));
    EXPECT_EQ(names(parts), (std::vector<std::string>{"optional;optional_data"}));
}

TEST_F(TransferTest, OnlyA200IsSuccessButEveryBodyIsKept) {
    m_server.server.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("no such file", "text/plain");
    });
    m_server.server.Get("/broken", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("success", "text/plain");
    });
    m_server.server.Get("/moved", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/final");
    });
    m_server.server.Get("/final", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("arrived", "text/plain");
    });
    m_server.server.Get("/moved-away", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/missing");
    });

    fetch::TransferRequest missing, broken, moved, movedAway, refused;
    missing.url = m_server.url("/missing");
    EXPECT_FALSE(fetch::performTransfer(missing));
    EXPECT_EQ(missing.responseBody, "no such file");
    broken.url = m_server.url("/broken");
    EXPECT_FALSE(fetch::performTransfer(broken));
    EXPECT_EQ(broken.responseBody, "success");
    moved.url = m_server.url("/moved");
    EXPECT_TRUE(fetch::performTransfer(moved));
    EXPECT_EQ(moved.responseBody, "arrived");
    movedAway.url = m_server.url("/moved-away");
    EXPECT_FALSE(fetch::performTransfer(movedAway));
    refused.url = u"http://127.0.0.1:1/closed";
    EXPECT_FALSE(fetch::performTransfer(refused));
}

TEST_F(TransferTest, SaveToFileStreamsIntoPlaceCreatingTheFolderChain) {
    std::string package(3 << 20, '\0');
    for (size_t i = 0; i < package.size(); ++i) package[i] = static_cast<char>(i * 7 + i / 4096);
    m_server.server.Get("/pkg", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(package, "application/octet-stream");
    });
    m_server.server.Get("/empty", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("", "application/octet-stream");
    });

    fetch::TransferRequest request;
    request.url = m_server.url("/pkg");
    request.saveToFile = true;
    request.savePath = m_folder.agentPath("a/b/setup.exe");
    ASSERT_TRUE(fetch::performTransfer(request));
    EXPECT_TRUE(request.responseBody.empty());  // the body went to disk, not to memory
    EXPECT_EQ(readFile(m_folder.path() / "a/b/setup.exe"), package);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder.path() / "a/b"), fs::directory_iterator()), 1);

    // A new download replaces the old file whole.
    package.assign(1000, 'n');
    ASSERT_TRUE(fetch::performTransfer(request));
    EXPECT_EQ(readFile(m_folder.path() / "a/b/setup.exe"), package);

    fetch::TransferRequest empty;
    empty.url = m_server.url("/empty");
    empty.saveToFile = true;
    empty.savePath = m_folder.agentPath("c/empty.exe");
    EXPECT_TRUE(fetch::performTransfer(empty));
    EXPECT_FALSE(fs::exists(m_folder.path() / "c/empty.exe"));
}

TEST_F(TransferTest, FailedSaveNeitherCreatesNorTouchesTheTarget) {
    m_server.server.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("not here", "text/plain");
    });
    writeFile(m_folder.path() / "old.exe", "previous package");

    fetch::TransferRequest over;
    over.url = m_server.url("/missing");
    over.saveToFile = true;
    over.savePath = m_folder.agentPath("old.exe");
    EXPECT_FALSE(fetch::performTransfer(over));
    EXPECT_EQ(over.responseBody, "not here");
    EXPECT_EQ(readFile(m_folder.path() / "old.exe"), "previous package");

    fetch::TransferRequest fresh = over;
    fresh.savePath = m_folder.agentPath("new.exe");
    EXPECT_FALSE(fetch::performTransfer(fresh));
    EXPECT_FALSE(fs::exists(m_folder.path() / "new.exe"));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder.path()), fs::directory_iterator()), 1);
}

// A server that goes silent, one that never answers and one that never stops each end the
// transfer as a failure in bounded time, leaving nothing under the target name.
TEST_F(TransferTest, StalledSilentAndEndlessServersEndInBoundedFailure) {
    m_server.server.Get("/stall", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1 << 20, "application/octet-stream",
                                 [&](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset > 0) return !m_server.waitForRelease(10s);
                                     std::string half(1 << 19, 'h');
                                     sink.write(half.data(), half.size());
                                     return true;
                                 });
    });
    m_server.server.Get("/silent", [&](const httplib::Request&, httplib::Response& res) {
        m_server.waitForRelease(10s);
        res.set_content("late", "text/plain");
    });
    m_server.server.Get("/endless", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/octet-stream", [](size_t, httplib::DataSink& sink) {
            std::string chunk(64 * 1024, 'e');
            return sink.write(chunk.data(), chunk.size());
        });
    });
    fetch::transferLimits().maxMemoryBody = 1 << 20;
    fetch::transferLimits().maxFileBody = 4 << 20;

    auto failsQuickly = [&](const std::string& path, bool toFile) {
        fetch::TransferRequest request;
        request.url = m_server.url(path);
        request.saveToFile = toFile;
        request.savePath = m_folder.agentPath("target.exe");
        auto start = std::chrono::steady_clock::now();
        bool ok = fetch::performTransfer(request);
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_FALSE(ok) << path;
        EXPECT_LT(took, 3s) << path;
        EXPECT_LE(request.responseBody.size(), fetch::transferLimits().maxMemoryBody) << path;
        EXPECT_TRUE(fs::is_empty(m_folder.path())) << path;
    };
    failsQuickly("/stall", true);
    failsQuickly("/silent", false);
    failsQuickly("/endless", false);
    failsQuickly("/endless", true);
}

TEST_F(TransferTest, ProgressReportsTheByteCounts) {
    static double total, received;
    total = received = 0;
    std::string body(200000, 'p');
    m_server.server.Get("/pkg", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/octet-stream");
    });
    fetch::TransferRequest request;
    request.url = m_server.url("/pkg");
    ASSERT_TRUE(fetch::performTransfer(request, [](void* context, double t, double n, double, double) {
        EXPECT_EQ(context, nullptr);
        total = t;
        received = n;
        return 0;
    }));
    EXPECT_EQ(total, 200000);
    EXPECT_EQ(received, 200000);
}
