// Peak memory of the agent's largest transfers, each in a process of its own against a
// loopback server that generates the bytes: a 1 GiB package download to a file, a 256 MiB
// module archive streamed to its file, and a 1 GiB crash report posted from disk. Beside
// them, the same process doing nothing but serving, as the reference. Every figure should
// stay below 32 MiB, whatever the size of the body.
//
//   bench_peak_memory_bench [SCRATCH_FOLDER]
#include <httplib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "fetch/transfer.h"
#include "platform/files.h"
#include "text/text.h"

namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kChunk = kMiB;

// Serves GET /bytes/<MiB> as a chunked body of that size and swallows POST /p.
void serve(httplib::Server& server) {
    static const std::string chunk(kChunk, 'b');
    server.Get(R"(/bytes/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        size_t total = std::stoul(req.matches[1]) * kMiB;
        res.set_content_provider(total, "application/octet-stream",
                                 [](size_t offset, size_t length, httplib::DataSink& sink) {
                                     (void)offset;
                                     return sink.write(chunk.data(), std::min(length, kChunk));
                                 });
    });
    server.Post("/p", [](const httplib::Request&, httplib::Response& res, const httplib::ContentReader& reader) {
        reader([](const httplib::MultipartFormData&) { return true; },
               [](const char*, size_t) { return true; });
        res.set_content("success", "text/plain");
    });
}

std::u16string agentPath(const std::filesystem::path& path) {
    std::u16string p = text::fromUtf8(path.string());
    for (char16_t& c : p)
        if (c == u'/') c = u'\\';
    return p;
}

// Runs work in a child with its own server; prints its peak resident size.
void measure(const char* name, const std::function<bool(const std::string& base)>& work) {
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        httplib::Server server;
        serve(server);
        int port = server.bind_to_any_port("127.0.0.1");
        std::thread listener([&] { server.listen_after_bind(); });
        for (int i = 0; i < 500 && !server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        bool ok = work("http://127.0.0.1:" + std::to_string(port));
        server.stop();
        listener.join();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%-34s %-4s peak %6.1f MiB\n", name, ok ? "ok" : "FAIL", static_cast<double>(usage.ru_maxrss) / 1024.0);
        std::fflush(stdout);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path scratch = argc > 1 ? argv[1] : std::filesystem::temp_directory_path() / "ov-peak-memory";
    std::filesystem::create_directories(scratch);

    measure("reference: serving only", [](const std::string&) { return true; });
    measure("package download, 1 GiB to a file", [&](const std::string& base) {
        fetch::TransferRequest request;
        request.url = text::fromUtf8(base + "/bytes/1024");
        request.saveToFile = true;
        request.savePath = agentPath(scratch / "package.exe");
        return fetch::performTransfer(request).ok();
    });
    measure("module archive, 256 MiB to a file", [&](const std::string& base) {
        auto file = plat::openFile(agentPath(scratch / "module.zip"), plat::OpenMode::WriteTruncate);
        fetch::TransferRequest request;
        request.url = text::fromUtf8(base + "/bytes/256");
        request.policy = fetch::moduleGetPolicy(fetch::ModuleBody::Archive);
        request.sinkFile = file.get();
        fetch::TransferResult result = fetch::performTransfer(request);
        return result.ok() && result.bytes == 256 * kMiB;
    });
    measure("crash report, 1 GiB from disk", [&](const std::string& base) {
        std::filesystem::path report = scratch / "qserr.dat";
        std::filesystem::resize_file(scratch / "package.exe", 1024 * kMiB);
        std::filesystem::rename(scratch / "package.exe", report);
        auto file = plat::openFile(agentPath(report), plat::OpenMode::ReadExclusive);
        fetch::TransferRequest request;
        request.url = text::fromUtf8(base + "/p");
        request.formFields[u"t"] = u"11";
        request.uploadFile = file.get();
        request.uploadFileBytes = 1024 * kMiB;
        request.policy.memoryTotalMs = 600000;  // a loopback bench, not a slow line
        return fetch::performTransfer(request) && request.responseBody == "success";
    });
    std::filesystem::remove_all(scratch);
    return 0;
}
