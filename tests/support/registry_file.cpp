#include "support/registry_file.h"

#include <gtest/gtest.h>

#include "support/file_io.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>

#include "text/text.h"
#endif

namespace testsupport {

namespace {

std::string quoted(const std::string& s) {
    std::string q = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') q += '\\';
        q += c;
    }
    return q + "\"";
}

#ifdef _WIN32
std::wstring wide(const std::string& s) {
    std::u16string w = text::fromUtf8(s);
    return std::wstring(w.begin(), w.end());
}

HKEY hiveOf(const std::string& name) {
    if (name == "HKEY_LOCAL_MACHINE" || name == "HKLM") return HKEY_LOCAL_MACHINE;
    if (name == "HKEY_CURRENT_USER" || name == "HKCU") return HKEY_CURRENT_USER;
    if (name == "HKEY_CLASSES_ROOT" || name == "HKCR") return HKEY_CLASSES_ROOT;
    return nullptr;
}
#endif

}  // namespace

#ifdef _WIN32
// What the touched keys held before the test, put back value by value; a key that had to
// be made is deleted from the first missing step down.
struct RegistryFile::Saved {
    struct Value {
        bool existed = false;
        DWORD type = REG_SZ;
        std::vector<BYTE> data;
    };
    struct Key {
        HKEY hive = nullptr;
        std::wstring subKey;
        std::wstring createdRoot;  // empty when the key existed
        std::map<std::wstring, Value> values;
    };
    std::map<std::string, Key> keys;

    static bool exists(HKEY hive, const std::wstring& subKey) {
        HKEY key;
        if (RegOpenKeyExW(hive, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    // The first step of subKey that does not exist yet, with the steps above it.
    static std::wstring firstMissing(HKEY hive, const std::wstring& subKey) {
        for (size_t end = subKey.find(L'\\');; end = subKey.find(L'\\', end + 1)) {
            std::wstring step = subKey.substr(0, end);
            if (!exists(hive, step)) return step;
            if (end == std::wstring::npos) return L"";
        }
    }

    Key* remember(const std::string& path) {
        auto found = keys.find(path);
        if (found != keys.end()) return &found->second;
        size_t slash = path.find('\\');
        Key key;
        key.hive = hiveOf(path.substr(0, slash));
        if (!key.hive || slash == std::string::npos) return nullptr;
        key.subKey = wide(path.substr(slash + 1));
        key.createdRoot = firstMissing(key.hive, key.subKey);
        return &keys.emplace(path, key).first->second;
    }
    static Value previous(const Key& key, const std::wstring& name) {
        Value value;
        DWORD bytes = 0;
        if (RegGetValueW(key.hive, key.subKey.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                         nullptr, &bytes) != ERROR_SUCCESS)
            return value;
        value.data.resize(bytes);
        value.existed = RegGetValueW(key.hive, key.subKey.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND,
                                     &value.type, value.data.data(), &bytes) == ERROR_SUCCESS;
        return value;
    }
    static bool write(const Key& key, const std::wstring& name, DWORD type, const BYTE* data, size_t bytes) {
        HKEY handle;
        if (RegCreateKeyExW(key.hive, key.subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                            nullptr) != ERROR_SUCCESS)
            return false;
        LONG status = RegSetValueExW(handle, name.empty() ? nullptr : name.c_str(), 0, type, data,
                                     static_cast<DWORD>(bytes));
        RegCloseKey(handle);
        return status == ERROR_SUCCESS;
    }

    bool set(const std::string& path, const std::string& name, const std::string& value) {
        Key* key = remember(path);
        if (!key) return false;
        std::wstring wideName = wide(name);
        if (key->createdRoot.empty() && !key->values.count(wideName))
            key->values[wideName] = previous(*key, wideName);
        std::wstring data = wide(value);
        return write(*key, wideName, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     (data.size() + 1) * sizeof(wchar_t));
    }
    void restore(const std::string& path) {
        auto found = keys.find(path);
        if (found == keys.end()) return;
        const Key& key = found->second;
        if (!key.createdRoot.empty()) RegDeleteTreeW(key.hive, key.createdRoot.c_str());
        for (const auto& [name, value] : key.values) {
            if (value.existed) write(key, name, value.type, value.data.data(), value.data.size());
            else RegDeleteKeyValueW(key.hive, key.subKey.c_str(), name.empty() ? nullptr : name.c_str());
        }
        keys.erase(found);
    }
};
#else
// The POSIX host has nothing but the file.
struct RegistryFile::Saved {
    bool set(const std::string&, const std::string&, const std::string&) { return true; }
    void restore(const std::string&) {}
};
#endif

void forgetRegistryKey(const std::string& key) {
#ifdef _WIN32
    size_t slash = key.find('\\');
    HKEY hive = hiveOf(key.substr(0, slash));
    if (hive && slash != std::string::npos) RegDeleteTreeW(hive, wide(key.substr(slash + 1)).c_str());
#else
    (void)key;
#endif
}

RegistryFile::RegistryFile(std::filesystem::path file)
    : m_file(std::move(file)), m_saved(std::make_unique<Saved>()) {}

RegistryFile::~RegistryFile() {
    for (const auto& [key, values] : m_keys) m_saved->restore(key);
}

void RegistryFile::set(const std::string& key, const std::string& name, const std::string& value) {
    m_keys[key][name] = value;
    writeFile();
    if (!m_saved->set(key, name, value)) ADD_FAILURE() << "cannot set registry value " << key << " " << name;
}

void RegistryFile::removeKey(const std::string& key) {
    m_saved->restore(key);
    m_keys.erase(key);
    writeFile();
}

void RegistryFile::writeFile() const {
    std::string text = "Windows Registry Editor Version 5.00\n";
    for (const auto& [key, values] : m_keys) {
        text += "\n[" + key + "]\n";
        for (const auto& [name, value] : values)
            text += (name.empty() ? "@" : quoted(name)) + "=" + quoted(value) + "\n";
    }
    testsupport::writeFile(m_file, text);
}

}  // namespace testsupport
