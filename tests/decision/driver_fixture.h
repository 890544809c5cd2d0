// A host of its own for each update-driver test that needs the disk or the real host:
// application data, registry file and runtime folder in a temporary folder, and the
// driver's save folder there.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

#include "app/settings.h"
#include "decision/update_document.h"
#include "decision/update_driver.h"
#include "fetch/test_support.h"
#include "platform/pe_builder.h"

#include "win32/test_registry.h"

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"APPDATA", "XDG_RUNTIME_DIR", "OVUPDATE_REGISTRY", "WINDIR", "OVUPDATE_DEPLOY"}) {
            const char* old = std::getenv(name);
            m_savedEnv.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        }
        setenv("APPDATA", (m_root.path() / "appdata").string().c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (m_root.path() / "run").string().c_str(), 1);
        setenv("OVUPDATE_REGISTRY", (m_root.path() / "registry.reg").string().c_str(), 1);
        setenv("WINDIR", (m_root.path() / "windows").string().c_str(), 1);
        // Nothing outside 127.0.0.1 is ever reached, even by servers the test never names.
        writeFile(m_root.path() / "deploy.ini",
                  "[servers]\ndomain1=http://127.0.0.1:9\ndomain2=http://127.0.0.1:9\n"
                  "domain3=http://127.0.0.1:9\nreport=http://127.0.0.1:9\n");
        setenv("OVUPDATE_DEPLOY", (m_root.path() / "deploy.ini").string().c_str(), 1);
        std::filesystem::create_directories(dataFolder() / "OvUpdate");
        std::filesystem::create_directories(m_root.path() / "run");
    }
    void TearDown() override {
#ifdef _WIN32
        for (const auto& [key, values] : m_registry) {
            HKEY hive;
            std::wstring subKey;
            if (splitKey(key, hive, subKey)) testreg::deleteKey(hive, subKey);
        }
#endif
        for (const auto& [name, value] : m_savedEnv) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
    }

    std::filesystem::path dataFolder() const { return m_root.path() / "appdata/Lumora Video/Orvix"; }
    std::filesystem::path saveFolder() const { return dataFolder() / "OvUpdate"; }
    std::u16string agentPath(const std::string& relative) const { return m_root.agentPath(relative); }
    std::string agentPathUtf8(const std::string& relative) const { return text::toUtf8(agentPath(relative)); }

    // A registry value; key starts with its hive, name empty is the default value. The
    // POSIX host reads a .reg file; Windows gets the value in its registry until TearDown.
    void setRegistry(const std::string& key, const std::string& name, const std::string& value) {
        m_registry[key][name] = value;
#ifdef _WIN32
        HKEY hive;
        std::wstring subKey;
        ASSERT_TRUE(splitKey(key, hive, subKey));
        ASSERT_TRUE(testreg::setString(hive, subKey, wide(name), wide(value)));
#else
        std::string reg = "Windows Registry Editor Version 5.00\n";
        for (const auto& [k, values] : m_registry) {
            reg += "\n[" + k + "]\n";
            for (const auto& [n, v] : values) reg += (n.empty() ? "@" : quoted(n)) + "=" + quoted(v) + "\n";
        }
        writeFile(m_root.path() / "registry.reg", reg);
#endif
    }

    // An executable with a file version ("1.2.3.4"), or none when version is empty.
    void writeProgram(const std::string& relative, const std::string& version) {
        if (version.empty()) {
            writeFile(m_root.path() / relative, testpe::peWithoutVersion());
            return;
        }
        testpe::VersionSpec wanted;
        std::vector<std::u16string> parts = text::split(text::fromUtf8(version), u".");
        for (size_t i = 0; i < 4; ++i) wanted.fileVersion[i] = static_cast<uint16_t>(text::atoi(parts[i]));
        writeFile(m_root.path() / relative, testpe::peWithVersion(wanted));
    }

    void setChannel(const std::string& client) {
        writeFile(dataFolder() / "OrvixIS.ini", "[main]\r\nclient=" + client + "\r\n");
    }

    // Reads xml as the driver does and walks it with a driver of its own, whose save folder
    // lies in this host and whose client identifier is "abc" (rollout value 83 with the
    // default seed).
    decision::RunDecision walk(const std::string& xml) {
        std::vector<decision::DocumentItem> items;
        EXPECT_TRUE(decision::parseUpdateDocument(xml, items)) << xml;
        decision::UpdateDriver driver;
        driver.m_saveDirectory = settings::dataFolder() + u"\\OvUpdate";
        driver.m_clientId = u"abc";
        return driver.walk(items);
    }

    TempFolder m_root;

private:
#ifdef _WIN32
    static std::wstring wide(const std::string& s) {
        std::u16string w = text::fromUtf8(s);
        return std::wstring(w.begin(), w.end());
    }
    static bool splitKey(const std::string& key, HKEY& hive, std::wstring& subKey) {
        size_t slash = key.find('\\');
        std::string hiveName = key.substr(0, slash);
        if (hiveName == "HKEY_LOCAL_MACHINE") hive = HKEY_LOCAL_MACHINE;
        else if (hiveName == "HKEY_CURRENT_USER") hive = HKEY_CURRENT_USER;
        else return false;
        subKey = wide(key.substr(slash + 1));
        return true;
    }
#endif
    static std::string quoted(const std::string& s) {
        std::string q = "\"";
        for (char c : s) {
            if (c == '\\' || c == '"') q += '\\';
            q += c;
        }
        return q + "\"";
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> m_savedEnv;
    std::map<std::string, std::map<std::string, std::string>> m_registry;
};
