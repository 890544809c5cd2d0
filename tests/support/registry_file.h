// Registry values a test sets up for the agent. The POSIX host reads the registry from a
// file in the .reg export format (the one OVUPDATE_REGISTRY names); the file is rewritten
// whole on every change. On Windows the values also go into the real registry, and every
// key and value touched gets its earlier state back when the object ends.
#pragma once
#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace testsupport {

class RegistryFile {
public:
    explicit RegistryFile(std::filesystem::path file);
    ~RegistryFile();
    RegistryFile(const RegistryFile&) = delete;
    RegistryFile& operator=(const RegistryFile&) = delete;

    const std::filesystem::path& file() const { return m_file; }

    // A string value. key begins with its hive (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or
    // HKEY_CLASSES_ROOT); an empty name is the key's default value. A failed write fails
    // the running test.
    void set(const std::string& key, const std::string& name, const std::string& value);
    // Takes back everything set under key.
    void removeKey(const std::string& key);

private:
    void writeFile() const;

    std::filesystem::path m_file;
    std::map<std::string, std::map<std::string, std::string>> m_keys;
    struct Saved;  // Windows: what the touched keys held before
    std::unique_ptr<Saved> m_saved;
};

// Takes key, with everything below it, out of the Windows registry, whoever wrote it there:
// a test program that was killed leaves its values behind. POSIX hosts have only the file.
void forgetRegistryKey(const std::string& key);

}  // namespace testsupport
