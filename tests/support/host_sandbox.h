// A host of its own for the agent's code in this process: application data ("appdata"),
// runtime folder for pipes, mutexes and desktop ("run"), Windows folder ("windows"),
// registry file and deployment file all lie in a temporary folder, and the environment
// points there until the sandbox ends. The player's data folder is left to the test.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/registry_file.h"
#include "support/temp_folder.h"

namespace testsupport {

// A closed port on this machine: what every server the test does not name points at.
constexpr char kClosedServer[] = "http://127.0.0.1:9";

class HostSandbox : public TempFolder {
public:
    HostSandbox();
    // Puts the environment back as it was.
    ~HostSandbox();

    fs::path appData() const { return path() / "appdata"; }
    fs::path dataFolder() const { return appData() / "Lumora Video" / "Orvix"; }  // the player's
    RegistryFile& registry() { return m_registry; }

    // The variables this sandbox sets, for a program started in it.
    std::map<std::string, std::string> environment() const;

    // The deployment file's servers: domain1 and the rest (domains 2 and 3, report).
    void setServers(const std::string& domain1, const std::string& rest = kClosedServer);
    // One more key of the deployment file's servers section (publickey, maxagedays, ...);
    // setServers starts the file anew.
    void addServerSetting(const std::string& key, const std::string& value);
    // The player's App Paths registration, naming exe.
    void registerPlayer(const fs::path& exe);

private:
    RegistryFile m_registry;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_savedEnvironment;
};

// A test with a host sandbox of its own.
class HostTest : public ::testing::Test, public HostSandbox {};

}  // namespace testsupport
