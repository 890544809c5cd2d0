#include "decision/rule_host.h"

#include "app/host_probes.h"
#include "app/settings.h"
#include "platform/system.h"

namespace decision {
namespace {

class SystemRuleHost final : public RuleHost {
public:
    bool fileExists(const std::u16string& path) override { return ::fileExists(path); }
    std::u16string fileVersion(const std::u16string& path) override { return ::fileVersion(path); }
    std::u16string channel() override {
        using namespace settings;
        return readString(kSectionMain, kKeyClient, u"", kClientChars, kOrvixIsIni);
    }
    bool readRegistryPath(std::u16string& path) override { return ::readRegistryPath(path); }
    bool readRegistryPathFolder(std::u16string& path) override { return ::readRegistryPathFolder(path); }
    std::u16string environmentVariable(const std::u16string& name) override {
        return plat::environmentVariable(name);
    }
};

}  // namespace

RuleHost& systemRuleHost() {
    static SystemRuleHost host;
    return host;
}

}  // namespace decision
