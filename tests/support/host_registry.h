// The registry values a sandboxed host shows the agent. The POSIX host reads them from a
// registry file, which this writes whole on every change; on Windows they are written into
// the real registry and removed again when the sandbox is dropped, together with every key
// the agent reads, so that no run sees what an earlier one left.
#pragma once
#include <filesystem>
#include <map>
#include <string>

namespace testsupport {

class HostRegistry {
public:
    // file: where the POSIX host looks (unused on Windows).
    explicit HostRegistry(std::filesystem::path file);
    ~HostRegistry();
    HostRegistry(const HostRegistry&) = delete;
    HostRegistry& operator=(const HostRegistry&) = delete;

    // key starts with its hive ("HKEY_LOCAL_MACHINE\..."); an empty name is the key's
    // default value. False when the value could not be written.
    bool set(const std::string& key, const std::string& name, const std::string& value);
    void removeKey(const std::string& key);
    void removeAll();

private:
    bool write();

    std::filesystem::path m_file;
    std::map<std::string, std::map<std::string, std::string>> m_keys;
};

}  // namespace testsupport
