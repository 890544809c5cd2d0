// What the package end-to-end tests share: the stand-in engine installed where the registry
// says, and an update document offering one package, served by a loopback server that logs
// every request.
#pragma once
#include "app/md5.h"
#include "e2e/e2e_fixture.h"

namespace e2e {

// One sandbox with the engine installed, a document server and a package (the stand-in
// installer) that, when started, notes how many arguments it got.
class InstallWorld {
public:
    static constexpr char kName[] = "OrvixSetup_3.2.0.1.exe";
    static constexpr char kEngineKey[] = "HKEY_CLASSES_ROOT\\NimboProxy";

    InstallWorld() {
        m_box.installPlayer();
        m_box.setPrintLog(1);
        m_box.addSetting("Testing.ini", "Device", "ClientIDForTest", "abc");
        m_box.setServers(m_documents.base());
        installEngine();
        m_package = readFile(buildProgram("OrvixSetup"));
        m_box.setEnv("INSTALLER_MARKER", marker().u8string());
    }

    fs::path marker() const { return m_box.path() / "installer-ran.txt"; }

    fs::path engineDir() const { return m_box.path() / "engine"; }
    // The stand-in engine and its companions where HKEY_CLASSES_ROOT\NimboProxy points.
    void installEngine() {
        fs::create_directories(engineDir());
        for (const char* name : {"prism.dll", "NimboProxy.dll"})
            fs::copy_file(programFolder() / name, engineDir() / name, fs::copy_options::overwrite_existing);
        writeFile(engineDir() / "libcurl.dll", "the engine's own HTTP library\n");
        registerEngine(engineDir() / "NimboProxy.dll");
    }
    void registerEngine(const fs::path& proxy) { m_box.registry().set(kEngineKey, "", windowsPath(proxy)); }
    void unregisterEngine() { m_box.registry().removeKey(kEngineKey); }

    std::string packageMd5() const { return app::md5OfBuffer(m_package.data(), m_package.size()); }

    // The update document: the package domains, then one update element with the given
    // attributes besides name, version, digest and release notes.
    void offer(const std::string& attributes, const std::vector<std::string>& domains = {}) {
        std::string document = "<?xml version='1.0' encoding='utf-8'?><updateinfo><Domain>";
        for (const std::string& domain : domains) document += "<domain>" + domain + "</domain>";
        document += std::string("</Domain><update name='") + kName + "' ver='3.2.0.1' md5='" + packageMd5() +
                    "' " + attributes + "><file name='absent.dll' path='1'/></update></updateinfo>";
        m_documents.serve("/product/OvUpdate/OvUpdate.xml", Reply{document});
    }
    // Engine attributes for a package link; the crc32 and size are only passed on.
    static std::string engineLink(const std::string& link) {
        return "usehttp='0' prismlink='" + link + "' filesize='100000000' crc32='9a3f00c1'";
    }

    // Runs the agent to its end; the run must end by itself, never by the time limit.
    std::vector<std::string> runAgent() { return runToEnd(m_box); }

    fs::path savedPackage() const { return m_box.dataFolder() / "OvUpdate" / kName; }
    std::string savePath() const { return windowsPath(savedPackage()); }
    std::string recordedFile() {
        std::string ini = readFile(m_box.dataFolder() / "OvUpdate.ini");
        size_t at = ini.find("updatefile=");
        if (at == std::string::npos) return "";
        size_t end = ini.find_first_of("\r\n", at);
        return ini.substr(at + 11, end - at - 11);
    }

    std::string savedBytes() const { return readFile(savedPackage()); }

    AgentSandbox m_box;
    HttpServer m_documents;
    std::string m_package;
};

class InstallRun : public ::testing::Test, public InstallWorld {};

}  // namespace e2e
