#include "support/http_server.h"

#include <cstdio>
#include <httplib.h>
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "support/poll.h"

namespace testsupport {

namespace {

bool sameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// The request without what cpp-httplib adds to the headers.
Request describe(const httplib::Request& req) {
    Request seen{req.method, req.path, req.target, {}, req.body, {}};
    for (const auto& [name, value] : req.headers)
        if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT")
            seen.headers.emplace(name, value);
    return seen;
}

void readBody(const httplib::Request& req, const httplib::ContentReader& reader, Request& seen) {
    if (!req.is_multipart_form_data()) {
        reader([&](const char* data, size_t size) {
            seen.body.append(data, size);
            return true;
        });
        return;
    }
    reader(
        [&](const httplib::MultipartFormData& part) {
            seen.parts.push_back({part.name, part.filename, ""});
            return true;
        },
        [&](const char* data, size_t size) {
            if (!seen.parts.empty()) seen.parts.back().content.append(data, size);
            return true;
        });
}

void sendChunked(httplib::Response& res, const Reply& reply) {
    res.set_chunked_content_provider(reply.contentType, [body = reply.body](size_t, httplib::DataSink& sink) {
        for (size_t at = 0; at < body.size(); at += 1000)
            if (!sink.write(body.data() + at, std::min<size_t>(1000, body.size() - at))) return false;
        sink.done();
        return true;
    });
}

}  // namespace

bool Request::hasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return sameNoCase(h.first, name); });
}

std::string Request::header(const std::string& name) const {
    for (const auto& [n, value] : headers)
        if (sameNoCase(n, name)) return value;
    return "";
}

Reply redirect(const std::string& location, int status) { return Reply{"", status, {{"Location", location}}}; }

namespace {

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
// A key and a certificate for a host name or address signed with it, valid for an hour.
struct SelfSigned {
    EVP_PKEY* key = EVP_RSA_gen(2048);
    X509* cert = X509_new();
    explicit SelfSigned(const std::string& host) {
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(host.c_str()),
                                   -1, -1, 0);
        X509_set_issuer_name(cert, name);
        bool address = host.find_first_not_of("0123456789.") == std::string::npos;
        std::string alt = (address ? "IP:" : "DNS:") + host;
        X509_EXTENSION* altName = X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, alt.c_str());
        X509_add_ext(cert, altName, -1);
        X509_EXTENSION_free(altName);
        X509_sign(cert, key, EVP_sha256());
    }
    ~SelfSigned() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
};
#endif

std::unique_ptr<httplib::Server> makeServer(Scheme scheme, const std::string& name, std::shared_ptr<void>& keep) {
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    if (scheme == Scheme::Https) {
        auto pair = std::make_shared<SelfSigned>(name);
        keep = pair;
        return std::make_unique<httplib::SSLServer>(pair->cert, pair->key);
    }
#else
    if (scheme == Scheme::Https) std::abort();  // a build without TLS has no https tests
#endif
    return std::make_unique<httplib::Server>();
}

}  // namespace

Reply rangeReply(const Request& request, const std::string& body, const std::string& etag, size_t cutAt) {
    Reply reply{body};
    if (!etag.empty()) reply.headers.emplace("ETag", etag);
    unsigned long long from = 0;
    std::string range = request.header("Range"), ifRange = request.header("If-Range");
    bool ranged = std::sscanf(range.c_str(), "bytes=%llu-", &from) == 1 && (ifRange.empty() || ifRange == etag);
    if (ranged && from >= body.size()) return Reply{"", 416, {{"Content-Range", "bytes */" + std::to_string(body.size())}}};
    size_t start = ranged ? static_cast<size_t>(from) : 0;  // below the body's size when ranged
    if (ranged) {
        reply.status = 206;
        reply.body = body.substr(start);
        reply.headers.emplace("Content-Range", "bytes " + std::to_string(start) + "-" + std::to_string(body.size() - 1) +
                                                   "/" + std::to_string(body.size()));
    }
    if (cutAt > start && cutAt < body.size()) {
        reply.delivery = Delivery::CutShort;
        reply.cutAt = cutAt - start;
    }
    return reply;
}

struct HttpServer::Impl {
    Impl(Scheme s, const std::string& name) : scheme(s), server(makeServer(s, name, certificate)), http(*server) {}
    Scheme scheme;
    std::shared_ptr<void> certificate;  // the https server's key and certificate
    std::unique_ptr<httplib::Server> server;
    httplib::Server& http;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;
    std::condition_variable released;
    std::map<std::string, Responder> routes;
    std::map<std::string, std::chrono::milliseconds> holds;  // prefix, longest wait
    unsigned releases = 0;  // counts release() calls, so a stalled body sees a later one
    bool stopping = false;
    std::vector<Request> log;

    void start() {
        http.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            // Responders answer ranges themselves (rangeReply); cpp-httplib must not cut again.
            const_cast<httplib::Request&>(req).ranges.clear();
            answer(describe(req), res);
        });
        http.Post(".*", [this](const httplib::Request& req, httplib::Response& res,
                               const httplib::ContentReader& reader) {
            Request seen = describe(req);
            readBody(req, reader, seen);
            answer(seen, res);
        });
        port = http.bind_to_any_port("127.0.0.1");
        if (port <= 0) std::abort();
        thread = std::thread([this] { http.listen_after_bind(); });
        if (!waitUntil([this] { return http.is_running(); })) std::abort();
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
            releaseLocked();
        }
        http.stop();
        thread.join();
    }

    void releaseLocked() {
        holds.clear();
        ++releases;
        released.notify_all();
    }

    void answer(const Request& seen, httplib::Response& res) {
        std::unique_lock<std::mutex> lock(mutex);
        log.push_back(seen);
        waitWhileHeld(lock, seen.path);
        Responder responder = route(seen.path);
        unsigned generation = releases;
        lock.unlock();
        send(responder ? responder(seen) : Reply{"", 404}, generation, res);
    }

    void waitWhileHeld(std::unique_lock<std::mutex>& lock, const std::string& path) {
        for (const auto& [prefix, limit] : holds) {
            if (!startsWith(path, prefix)) continue;
            const std::string held = prefix;  // holds may change while waiting
            released.wait_for(lock, limit, [&] { return stopping || !holds.count(held); });
            return;
        }
    }

    Responder route(const std::string& path) const {
        auto exact = routes.find(path);
        if (exact != routes.end()) return exact->second;
        const Responder* best = nullptr;
        size_t bestLength = 0;
        for (const auto& [key, responder] : routes) {
            if (key.empty() || key.back() != '*') continue;
            std::string prefix = key.substr(0, key.size() - 1);
            if (startsWith(path, prefix) && (!best || prefix.size() > bestLength)) {
                best = &responder;
                bestLength = prefix.size();
            }
        }
        return best ? *best : Responder();
    }

    void send(const Reply& reply, unsigned generation, httplib::Response& res) {
        res.status = reply.status;
        for (const auto& [name, value] : reply.headers) res.set_header(name.c_str(), value);
        switch (reply.delivery) {
            case Delivery::Whole: res.set_content(reply.body, reply.contentType.c_str()); break;
            case Delivery::Chunked: sendChunked(res, reply); break;
            case Delivery::CutShort:
            case Delivery::Stall: sendPart(res, reply, generation); break;
            case Delivery::Endless: sendEndless(res, reply); break;
            case Delivery::Trickle: sendTrickle(res, reply); break;
        }
    }

    // The whole length is announced; cutAt bytes go out, then (after a stall) the connection drops.
    void sendPart(httplib::Response& res, const Reply& reply, unsigned generation) {
        auto sent = std::make_shared<bool>(false);
        bool stall = reply.delivery == Delivery::Stall;
        std::string part = reply.body.substr(0, std::min(reply.cutAt, reply.body.size()));
        res.set_content_provider(reply.body.size(), reply.contentType,
                                 [this, part, sent, stall, generation](size_t, size_t, httplib::DataSink& sink) {
                                     if (*sent) {
                                         if (stall) waitForRelease(generation);
                                         return false;
                                     }
                                     *sent = true;
                                     return sink.write(part.data(), part.size());
                                 });
    }

    void sendEndless(httplib::Response& res, const Reply& reply) {
        std::string chunk = reply.body.empty() ? std::string(1024, 'x') : reply.body;
        res.set_chunked_content_provider(reply.contentType, [this, chunk](size_t, httplib::DataSink& sink) {
            return !isStopping() && sink.write(chunk.data(), chunk.size());
        });
    }

    void sendTrickle(httplib::Response& res, const Reply& reply) {
        res.set_chunked_content_provider(reply.contentType, [this, body = reply.body, every = reply.trickleEvery](
                                                                size_t at, httplib::DataSink& sink) {
            if (at >= body.size()) {
                sink.done();
                return true;
            }
            std::this_thread::sleep_for(every);
            return !isStopping() && sink.write(body.data() + at, 1);
        });
    }

    void waitForRelease(unsigned generation) {
        std::unique_lock<std::mutex> lock(mutex);
        released.wait_for(lock, kHoldLimit, [&] { return stopping || releases != generation; });
    }

    bool isStopping() const {
        std::lock_guard<std::mutex> lock(mutex);
        return stopping;
    }
};

HttpServer::HttpServer(Scheme scheme, const std::string& certificateName)
    : m_impl(std::make_unique<Impl>(scheme, certificateName)) {
    m_impl->start();
}

HttpServer::~HttpServer() { m_impl->stop(); }

int HttpServer::port() const { return m_impl->port; }

std::string HttpServer::base() const {
    return (m_impl->scheme == Scheme::Https ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(m_impl->port);
}

bool HttpServer::writeCertificate(const std::string& file) const {
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    if (m_impl->scheme != Scheme::Https) return false;
    FILE* out = std::fopen(file.c_str(), "w");
    if (!out) return false;
    bool written = PEM_write_X509(out, static_cast<SelfSigned*>(m_impl->certificate.get())->cert) == 1;
    return std::fclose(out) == 0 && written;
#else
    return false;
#endif
}

std::string HttpServer::url(const std::string& path) const { return base() + path; }

void HttpServer::serve(const std::string& path, Reply reply) {
    serve(path, [reply](const Request&) { return reply; });
}

void HttpServer::serve(const std::string& path, Responder responder) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->routes[path] = std::move(responder);
}

void HttpServer::hold(const std::string& prefix, std::chrono::milliseconds limit) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->holds[prefix] = limit;
}

void HttpServer::release() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->releaseLocked();
}

std::vector<Request> HttpServer::requests() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->log;
}

int HttpServer::hits(const std::string& path) const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return static_cast<int>(
        std::count_if(m_impl->log.begin(), m_impl->log.end(), [&](const Request& r) { return r.path == path; }));
}

void HttpServer::clear() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->routes.clear();
    m_impl->log.clear();
    m_impl->releaseLocked();
}

}  // namespace testsupport
