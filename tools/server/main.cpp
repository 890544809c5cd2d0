// OvServer: serves a folder tree as the maker's download domains and answers the crash
// endpoint POST /p with "success", on 127.0.0.1.
//
//   OvServer [--root DIR] [--port N] [--reports DIR] [--log FILE]
//
// Prints the port it listens on as the first line of standard output (port 0 or no port
// picks a free one). In served .xml files the text @SERVER@ becomes "http://127.0.0.1:PORT",
// so sample documents can point at the server itself. With --reports every crash report
// received is written to DIR as report-N.txt (form fields, then the binary part's name and
// size) followed by the binary part itself as report-N.bin. With --log every request is
// appended to FILE as one line: method, path, status.
#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>

namespace {

constexpr char kServerMarker[] = "@SERVER@";
constexpr size_t kStreamChunk = 256 * 1024;

struct Options {
    std::string root = OV_SERVER_DEFAULT_ROOT;
    int port = 0;
    std::string reports;
    std::string log;
};

constexpr char kUsage[] = "usage: OvServer [--root DIR] [--port N] [--reports DIR] [--log FILE]\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "OvServer: %s\n%s", message.c_str(), kUsage);
    return 1;
}

bool isFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

bool parsePort(const std::string& text, int& port) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 65535) return false;
    port = static_cast<int>(value);
    return true;
}

// Empty when the options are usable, else what is wrong with them.
std::string parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; i += 2) {
        std::string key = argv[i];
        if (key != "--root" && key != "--port" && key != "--reports" && key != "--log")
            return "unknown option " + key;
        if (i + 1 == argc) return key + " needs a value";
        std::string value = argv[i + 1];
        if (key == "--root") o.root = value;
        else if (key == "--port" && !parsePort(value, o.port)) return "not a port number: " + value;
        else if (key == "--reports") o.reports = value;
        else if (key == "--log") o.log = value;
    }
    if (!isFolder(o.root)) return "no folder " + o.root;
    if (!o.reports.empty() && !isFolder(o.reports)) return "no folder " + o.reports;
    return "";
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string readAll(std::ifstream& in) {
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void replaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

// Files are streamed in chunks, so packages of any size are served with flat memory.
void serveFile(const Options& o, int port, const httplib::Request& req, httplib::Response& res) {
    std::string path = req.path;
    if (path.find("..") != std::string::npos || path.find('\\') != std::string::npos) {
        res.status = 400;
        return;
    }
    auto file = std::make_shared<std::ifstream>(o.root + path, std::ios::binary);
    if (path.back() == '/' || !*file) {
        res.status = 404;
        res.set_content("not found", "text/plain");
        return;
    }
    if (endsWith(path, ".xml")) {
        std::string body = readAll(*file);
        replaceAll(body, kServerMarker, "http://127.0.0.1:" + std::to_string(port));
        res.set_content(body, "text/xml");
        return;
    }
    file->seekg(0, std::ios::end);
    size_t size = static_cast<size_t>(file->tellg());
    file->seekg(0);
    res.set_content_provider(size, "application/octet-stream",
                             [file](size_t offset, size_t length, httplib::DataSink& sink) {
                                 std::string chunk(std::min(length, kStreamChunk), '\0');
                                 file->seekg(static_cast<std::streamoff>(offset));
                                 file->read(&chunk[0], static_cast<std::streamsize>(chunk.size()));
                                 sink.write(chunk.data(), static_cast<size_t>(file->gcount()));
                                 return file->gcount() > 0;
                             });
}

void keepReport(const Options& o, const httplib::Request& req) {
    if (o.reports.empty()) return;
    static std::atomic<int> counter{0};
    std::string base = o.reports + "/report-" + std::to_string(++counter);
    std::ofstream fields(base + ".txt", std::ios::binary);
    for (const auto& [name, part] : req.files) {
        if (part.filename.empty()) fields << name << "=" << part.content << "\n";
        else fields << name << ": file " << part.filename << ", " << part.content.size() << " bytes\n";
        if (!part.filename.empty()) std::ofstream(base + ".bin", std::ios::binary) << part.content;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string wrong = parseOptions(argc, argv, options);
    if (!wrong.empty()) return fail(wrong);
    httplib::Server server;
    int port = options.port > 0 && server.bind_to_port("127.0.0.1", options.port)
                   ? options.port
                   : (options.port > 0 ? -1 : server.bind_to_any_port("127.0.0.1"));
    if (port <= 0) {
        std::fprintf(stderr, "OvServer: cannot listen on 127.0.0.1\n");
        return 1;
    }
    server.Post("/p", [&](const httplib::Request& req, httplib::Response& res) {
        keepReport(options, req);
        res.set_content("success", "text/plain");
    });
    server.Get(".*",
               [&](const httplib::Request& req, httplib::Response& res) { serveFile(options, port, req, res); });
    if (!options.log.empty()) {
        auto log = std::make_shared<std::ofstream>(options.log, std::ios::binary | std::ios::app);
        if (!*log) return fail("cannot write " + options.log);
        server.set_logger([log](const httplib::Request& req, const httplib::Response& res) {
            *log << req.method << " " << req.path << " " << res.status << "\n" << std::flush;
        });
    }
    std::printf("%d\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
