// A machine described on the command line, answering the update rules' questions the way
// the real host would answer them on that machine: the player (its folder and version),
// its channel and the versions of local files. Its region values go to the walk as given.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "decision/rule_host.h"

namespace publish {

struct MachineDescription {
    std::u16string playerVersion;
    std::u16string channel;
    std::vector<std::u16string> regions;             // area, country, city, province, net, in this order
    std::map<std::u16string, std::u16string> files;  // name or "sub\name" -> version
    std::u16string installedDir;                     // a real player folder, or empty
};

class DescribedMachine : public decision::RuleHost {
public:
    explicit DescribedMachine(MachineDescription d);

    std::u16string playerExe() const { return m_folder + u"\\Orvix.exe"; }

    bool fileExists(const std::u16string& path) override;
    std::u16string fileVersion(const std::u16string& path) override;
    std::u16string channel() override { return m_d.channel; }
    bool readRegistryPath(std::u16string& path) override;
    bool readRegistryPathFolder(std::u16string& path) override;
    // Variables are shown by name ("%APPDATA%"), as the machine's own value is unknown.
    std::u16string environmentVariable(const std::u16string& name) override { return u"%" + name + u"%"; }

private:
    // The version given with --file for path; false when none names it.
    bool described(const std::u16string& path, std::u16string& version) const;
    bool readRegistry(std::u16string& path, bool folder) const;

    MachineDescription m_d;
    std::u16string m_folder;  // the player's folder
};

}  // namespace publish
