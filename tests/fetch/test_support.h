// Helpers of the transfer and driver tests: a cpp-httplib server on 127.0.0.1 with a port
// of the system's choosing, and a temporary folder per test.
#pragma once
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include <unistd.h>

#include "platform/text.h"

class LocalServer {
public:
    LocalServer() {
        m_port = server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LocalServer() {
        release();
        server.stop();
        m_thread.join();
    }
    std::u16string base() const { return text::fromUtf8("http://127.0.0.1:" + std::to_string(m_port)); }
    std::u16string url(const std::string& path) const { return base() + text::fromUtf8(path); }

    // Handlers that hold a connection open wait here until the test ends.
    bool waitForRelease(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, limit, [this] { return m_released; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released = true;
        m_cv.notify_all();
    }

    httplib::Server server;

private:
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_released = false;
};

class TempFolder {
public:
    TempFolder() {
        static std::atomic<int> counter{0};
        m_path = std::filesystem::temp_directory_path() /
                 ("ovtest-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
        std::filesystem::create_directories(m_path);
    }
    ~TempFolder() {
        std::error_code ignored;  // a destructor must not throw, whatever the test left behind
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::filesystem::path& path() const { return m_path; }
    // The folder, or a path below it, in the agent's "\" form.
    std::u16string agentPath(const std::string& relative = "") const {
        std::string p = relative.empty() ? m_path.string() : (m_path / relative).string();
        std::u16string w = text::fromUtf8(p);
        for (auto& c : w)
            if (c == u'/') c = u'\\';
        return w;
    }

private:
    std::filesystem::path m_path;
};

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}
