// A background run of the real agent in which no installer applies, so it goes on to the
// module update: changed modules are swapped in from a local module source.
#include <gtest/gtest.h>
#include <httplib.h>
#include <zip.h>

#include <thread>

#include "app/md5.h"
#include "e2e/sandbox.h"

namespace {

namespace fs = std::filesystem;

std::string oneFileZip(const std::string& name, const std::string& data) {
    std::string path = (fs::temp_directory_path() / "ovmod-e2e-XXXXXX").string();
    int fd = mkstemp(path.data());
    close(fd);
    zipFile zf = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    zip_fileinfo info{};
    zipOpenNewFileInZip64(zf, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6, 0);
    zipWriteInFileInZip(zf, data.data(), static_cast<unsigned>(data.size()));
    zipCloseFileInZip(zf);
    zipClose(zf, nullptr);
    std::string bytes = e2e::readFile(path);
    fs::remove(path);
    return bytes;
}

std::string md5(const std::string& s) { return md5OfBuffer(s.data(), s.size()); }

class ModulesUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        m_box.installPlayer();
        m_box.setPrintLog(1);
        e2e::writeFile(m_box.playerFolder() / "codec.dll", "old codec");
        e2e::writeFile(m_box.playerFolder() / "plugins" / "subtitle.dll", "old subtitle");
        e2e::writeFile(m_box.playerFolder() / "skin.dat", "skin 1");

        m_port = m_http.bind_to_any_port("127.0.0.1");
        std::string base = "http://127.0.0.1:" + std::to_string(m_port);
        // An installer document in which nothing applies: the run ends with "no update".
        m_files["/product/OvUpdate/OvUpdate.xml"] =
            "<?xml version='1.0' encoding='utf-8'?><info><update name='off.exe' enable='0'>"
            "<file name='Orvix.exe' path='1'/></update></info>";
        m_files["/product/OvUpdate/upcfg.xml"] =
            "<root><updates><up sdir='" + base + "/m' percent='100'/></updates></root>";
        std::string list = "<root>";
        for (auto [name, path, content] : {std::tuple{"codec.dll", "codec.dll", "new codec"},
                                           {"plugins\\subtitle.dll", "plugins/subtitle.dll", "new subtitle"},
                                           {"skin.dat", "skin.dat", "skin 1"}}) {
            std::string zip = oneFileZip(fs::path(path).filename().string(), content);
            m_files["/m/bin/" + std::string(path) + ".zip"] = zip;
            list += "<File md5='" + md5(content) + "' zipmd5='" + md5(zip) + "'>" + name + "</File>";
        }
        m_files["/m/update.xml"] = list + "</root>";
        m_http.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            ++m_hits[req.path];
            auto found = m_files.find(req.path);
            if (found == m_files.end()) res.status = 404;
            else res.set_content(found->second, "application/octet-stream");
        });
        m_thread = std::thread([this] { m_http.listen_after_bind(); });
        m_box.setDeploy("[servers]\ndomain1=" + base + "\ndomain2=" + base + "\ndomain3=" + base +
                        "\nreport=" + base + "\n");
    }
    void TearDown() override {
        m_http.stop();
        m_thread.join();
    }
    std::vector<std::string> runAgent() {
        e2e::RunResult result = m_box.run({}, 30000);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 0);
        return m_box.logLines();
    }
    std::string installed(const std::string& path) { return e2e::readFile(m_box.playerFolder() / path); }

    e2e::Sandbox m_box;
    httplib::Server m_http;
    std::thread m_thread;
    int m_port = 0;
    std::map<std::string, std::string> m_files;
    std::map<std::string, int> m_hits;
};

TEST_F(ModulesUpdate, ChangedModulesAreSwappedInAndASecondRunHasNothingToDo) {
    std::vector<std::string> lines = runAgent();
    EXPECT_TRUE(e2e::hasLine(lines, e2e::agentLine("replace count 2 success")));
    EXPECT_TRUE(e2e::hasLine(lines, e2e::agentLine("静默升级完成")));
    EXPECT_EQ(installed("codec.dll"), "new codec");
    EXPECT_EQ(installed("plugins/subtitle.dll"), "new subtitle");
    EXPECT_EQ(m_hits["/m/bin/skin.dat.zip"], 0);
    EXPECT_FALSE(fs::exists(m_box.playerFolder() / "OvUpdate"));
    for (const auto& entry : fs::recursive_directory_iterator(m_box.playerFolder()))
        EXPECT_TRUE(entry.path().extension() != ".bak" && entry.path().extension() != ".old") << entry.path();

    size_t before = lines.size();
    lines = runAgent();
    std::vector<std::string> second(lines.begin() + static_cast<long>(std::min(before, lines.size())), lines.end());
    bool nothingToDo = false;
    for (const auto& l : second)
        nothingToDo = nothingToDo || l.rfind(e2e::agentLine("CheckAndDownloadModulesByList 0 files need update"), 0) == 0;
    EXPECT_TRUE(nothingToDo);
    EXPECT_EQ(m_hits["/m/bin/codec.dll.zip"], 1);
    EXPECT_FALSE(fs::exists(m_box.playerFolder() / "OvUpdate"));
}

}  // namespace
