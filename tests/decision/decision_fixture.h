// A host sandbox for each update-driver test that needs the disk or the real host, with
// the driver's save folder in the player's data folder.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/settings.h"
#include "decision/update_document.h"
#include "decision/update_driver.h"
#include "platform/pe_builder.h"
#include "text/text.h"
#include "support/file_io.h"
#include "support/host_sandbox.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

class DriverTest : public testsupport::HostTest {
protected:
    void SetUp() override { fs::create_directories(saveFolder()); }

    fs::path saveFolder() const { return dataFolder() / "OvUpdate"; }

    // An executable with a file version ("1.2.3.4"), or none when version is empty.
    void writeProgram(const std::string& relative, const std::string& version) const {
        if (version.empty()) {
            write(relative, platformtest::peWithoutVersion());
            return;
        }
        platformtest::VersionFields wanted;
        std::vector<std::u16string> parts = text::split(text::fromUtf8(version), u".");
        for (size_t i = 0; i < 4; ++i) wanted.fileVersion[i] = static_cast<uint16_t>(text::atoi(parts[i]));
        write(relative, platformtest::peWithVersion(wanted));
    }

    void setChannel(const std::string& client) const {
        writeFile(dataFolder() / "OrvixIS.ini", "[main]\r\nclient=" + client + "\r\n");
    }

    // Reads xml as the driver does and walks it on the real host, with the save folder in
    // this host and the client identifier "abc" (rollout value 83 with the default seed).
    decision::RunDecision walk(const std::string& xml) {
        std::vector<decision::DocumentItem> items;
        EXPECT_TRUE(decision::parseUpdateDocument(xml, items)) << xml;
        decision::WalkMachine machine{app::settings::dataFolder() + u"\\OvUpdate", u"abc", {}, false};
        return decision::walkDocument(items, decision::systemRuleHost(), machine).decision;
    }
};
