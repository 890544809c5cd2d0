// A temporary folder per test, with the host locations (APPDATA, runtime folder,
// registry file) pointed into it and restored afterwards.
#pragma once
#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>
#include <string>
#include "platform/text.h"

class Sandbox : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "ovplat-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        for (const char* name : {"APPDATA", "XDG_RUNTIME_DIR", "OVUPDATE_REGISTRY", "WINDIR"}) {
            const char* old = std::getenv(name);
            m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        }
        std::filesystem::create_directories(m_root + "/appdata");
        std::filesystem::create_directories(m_root + "/run");
        setenv("APPDATA", (m_root + "/appdata").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (m_root + "/run").c_str(), 1);
        unsetenv("OVUPDATE_REGISTRY");
    }
    void TearDown() override {
        for (const auto& [name, value] : m_saved) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
        std::error_code ignored;
        std::filesystem::permissions(m_root, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(m_root, ignored);
    }

    // Native path of name inside the sandbox, and the same path as the core writes it.
    std::string native(const std::string& name) const { return m_root + "/" + name; }
    std::u16string core(const std::string& name) const {
        std::u16string p = text::fromUtf8(native(name));
        for (auto& c : p)
            if (c == u'/') c = u'\\';
        return p;
    }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(native(name), std::ios::binary) << bytes;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(native(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string m_root;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};
