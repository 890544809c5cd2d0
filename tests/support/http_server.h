// A web server on 127.0.0.1, on a port of the system's choosing, for the time the object
// lives. It answers what the test serves per path, logs every request, and can misbehave
// on purpose: any status, redirects, answers held back, bodies cut short or stalled, and
// bodies without end. Over https (where the build has TLS) it shows a certificate it
// signed itself for 127.0.0.1 (or the name it is given), which a client verifies with writeCertificate's file.
#pragma once
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct FormPart {
    std::string name;
    std::string filename;  // empty for a text field
    std::string content;
};

// One request as the client sent it.
struct Request {
    std::string method;
    std::string path;                                 // decoded, without the query
    std::string target;                               // as sent: escapes and query included
    std::multimap<std::string, std::string> headers;  // exactly the client's, nothing added
    std::string body;                                 // the body of anything but a multipart form
    std::vector<FormPart> parts;                      // the parts of a multipart form, in their order

    bool hasHeader(const std::string& name) const;      // name in any letter case
    std::string header(const std::string& name) const;  // "" when absent
};

// How the body of an answer travels.
enum class Delivery {
    Whole,     // with its length
    Chunked,   // in chunks of 1000 bytes
    CutShort,  // the whole length is announced, cutAt bytes follow, then the connection closes
    Stall,     // as CutShort, but after cutAt bytes the server falls silent until release()
    Endless,   // chunked, the body over and over until the client hangs up
    Trickle,   // chunked, one byte of the body every trickleEvery, then the end
};

struct Reply {
    std::string body;
    int status = 200;
    std::multimap<std::string, std::string> headers{};  // "Location", "Content-Encoding", ...
    Delivery delivery = Delivery::Whole;
    size_t cutAt = 0;
    std::chrono::milliseconds trickleEvery{100};
    std::string contentType = "application/octet-stream";
};

// A redirect to location (absolute, or relative to this server).
Reply redirect(const std::string& location, int status = 302);

// The answer of a server that honours "Range: bytes=<n>-" (when If-Range is absent or names
// etag): 206 with the rest, or 416 past the end; otherwise 200 with the whole. With cutAt
// beyond the range's start, the body ends after that byte of the whole and the connection drops.
Reply rangeReply(const Request& request, const std::string& body, const std::string& etag, size_t cutAt = 0);

// Decides the answer from the request; runs on one of the server's threads.
using Responder = std::function<Reply(const Request&)>;

constexpr std::chrono::milliseconds kHoldLimit = std::chrono::seconds(10);

enum class Scheme { Http, Https };

class HttpServer {
public:
    // certificateName: the host name (or address) an https server's certificate is for.
    explicit HttpServer(Scheme scheme = Scheme::Http, const std::string& certificateName = "127.0.0.1");
    // Lets everything held go, then stops.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int port() const;
    std::string base() const;  // "http://127.0.0.1:<port>" (or https)
    // The certificate of an https server as an authority file; false over http.
    bool writeCertificate(const std::string& file) const;
    std::string url(const std::string& path) const;

    // What a path answers, replacing what it answered before. A path ending in "*" stands
    // for every path that begins with the rest; an exact path wins, then the longest such
    // prefix. Paths served by nothing answer 404.
    void serve(const std::string& path, Reply reply);
    void serve(const std::string& path, Responder responder);

    // Requests for paths beginning with prefix are logged at once but answered only after
    // release() (or when limit has passed); the answer is the one served at that time.
    void hold(const std::string& prefix, std::chrono::milliseconds limit = kHoldLimit);
    // Ends every hold and lets stalled bodies end.
    void release();

    std::vector<Request> requests() const;
    int hits(const std::string& path) const;
    // Forgets what it serves, holds and has seen.
    void clear();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace testsupport
