#include "support/host_registry.h"

#include <fstream>

#ifdef _WIN32
#include "win32/test_registry.h"
#endif

namespace testsupport {

namespace fs = std::filesystem;

#ifdef _WIN32

namespace {

// Every key the agent reads.
const char* const kAgentKeys[] = {
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe",
    "HKEY_CLASSES_ROOT\\NimboProxy",
    "HKEY_CURRENT_USER\\Kavo.FDS",
};

std::wstring wide(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

bool splitKey(const std::string& key, HKEY& hive, std::wstring& subKey) {
    size_t slash = key.find('\\');
    std::string name = key.substr(0, slash);
    if (name == "HKEY_LOCAL_MACHINE") hive = HKEY_LOCAL_MACHINE;
    else if (name == "HKEY_CURRENT_USER") hive = HKEY_CURRENT_USER;
    else if (name == "HKEY_CLASSES_ROOT") hive = HKEY_CLASSES_ROOT;
    else return false;
    subKey = slash == std::string::npos ? L"" : wide(key.substr(slash + 1));
    return true;
}

void deleteKey(const std::string& key) {
    HKEY hive;
    std::wstring subKey;
    if (splitKey(key, hive, subKey) && !subKey.empty()) testreg::deleteKey(hive, subKey);
}

}  // namespace

HostRegistry::HostRegistry(fs::path file) : m_file(std::move(file)) { removeAll(); }

HostRegistry::~HostRegistry() { removeAll(); }

bool HostRegistry::set(const std::string& key, const std::string& name, const std::string& value) {
    m_keys[key][name] = value;
    HKEY hive;
    std::wstring subKey;
    return splitKey(key, hive, subKey) && testreg::setString(hive, subKey, wide(name), wide(value));
}

void HostRegistry::removeKey(const std::string& key) {
    m_keys.erase(key);
    deleteKey(key);
}

void HostRegistry::removeAll() {
    for (const auto& [key, values] : m_keys) deleteKey(key);
    for (const char* key : kAgentKeys) deleteKey(key);
    m_keys.clear();
}

#else

namespace {

std::string quoted(const std::string& s) {
    std::string q = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') q += '\\';
        q += c;
    }
    return q + "\"";
}

}  // namespace

HostRegistry::HostRegistry(fs::path file) : m_file(std::move(file)) {}

HostRegistry::~HostRegistry() = default;

bool HostRegistry::set(const std::string& key, const std::string& name, const std::string& value) {
    m_keys[key][name] = value;
    return write();
}

void HostRegistry::removeKey(const std::string& key) {
    m_keys.erase(key);
    write();
}

void HostRegistry::removeAll() {
    m_keys.clear();
    std::error_code ignored;
    fs::remove(m_file, ignored);
}

// The whole file in the export format the POSIX host reads.
bool HostRegistry::write() {
    std::string text = "Windows Registry Editor Version 5.00\n";
    for (const auto& [key, values] : m_keys) {
        text += "\n[" + key + "]\n";
        for (const auto& [name, value] : values) text += (name.empty() ? "@" : quoted(name)) + "=" + quoted(value) + "\n";
    }
    fs::create_directories(m_file.parent_path());
    std::ofstream out(m_file, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

#endif

}  // namespace testsupport
