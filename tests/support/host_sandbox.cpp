#include "support/host_sandbox.h"

#include <cstdlib>

#include "text/text.h"

namespace testsupport {

namespace {

// Besides the ones set here, the ones the tests change on their own.
const char* const kSaved[] = {"APPDATA", "XDG_RUNTIME_DIR", "OVUPDATE_REGISTRY",
                              "WINDIR",  "OVUPDATE_DEPLOY", "XDG_CONFIG_HOME"};
constexpr char kDeployFile[] = "OvUpdate.deploy.ini";

}  // namespace

HostSandbox::HostSandbox() : m_registry(path() / "registry.reg") {
    for (const char* name : kSaved) {
        const char* value = std::getenv(name);
        m_savedEnvironment.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    for (const char* folder : {"appdata", "run", "windows"}) fs::create_directories(path() / folder);
    setServers(kClosedServer);
    for (const auto& [name, value] : environment()) setenv(name.c_str(), value.c_str(), 1);
}

HostSandbox::~HostSandbox() {
    for (const auto& [name, value] : m_savedEnvironment) {
        if (value) setenv(name.c_str(), value->c_str(), 1);
        else unsetenv(name.c_str());
    }
}

std::map<std::string, std::string> HostSandbox::environment() const {
    return {{"APPDATA", native("appdata")},
            {"XDG_RUNTIME_DIR", native("run")},
            {"OVUPDATE_REGISTRY", m_registry.file().u8string()},
            {"WINDIR", native("windows")},
            {"OVUPDATE_DEPLOY", native(kDeployFile)}};
}

void HostSandbox::setServers(const std::string& domain1, const std::string& rest) {
    write(kDeployFile,
          "[servers]\ndomain1=" + domain1 + "\ndomain2=" + rest + "\ndomain3=" + rest + "\nreport=" + rest + "\n");
}

void HostSandbox::addServerSetting(const std::string& key, const std::string& value) {
    write(kDeployFile, read(kDeployFile) + key + "=" + value + "\n");
}

void HostSandbox::registerPlayer(const fs::path& exe) {
    m_registry.set("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe", "",
                   text::toUtf8(testsupport::agentPath(exe)));
}

}  // namespace testsupport
