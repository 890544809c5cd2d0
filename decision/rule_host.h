// What the update rules ask of this machine. The agent answers from the real host; tests
// answer from a table of their own.
#pragma once
#include <string>

namespace decision {

class RuleHost {
public:
    virtual ~RuleHost() = default;
    virtual bool fileExists(const std::u16string& path) = 0;
    // "%d.%d.%d.%d" of the file version, empty without one.
    virtual std::u16string fileVersion(const std::u16string& path) = 0;
    // The player's distribution channel ("client" of its install settings).
    virtual std::u16string channel() = 0;
    // Registry path strings ("hive$$$$key$$$$value"): replaced by the value on success;
    // the folder form gives the folder of a file the value names.
    virtual bool readRegistryPath(std::u16string& path) = 0;
    virtual bool readRegistryPathFolder(std::u16string& path) = 0;
    virtual std::u16string environmentVariable(const std::u16string& name) = 0;
};

// The real host.
RuleHost& systemRuleHost();

}  // namespace decision
