#include "decision/rule_host.h"

#include "app/host_probes.h"
#include "app/settings.h"
#include "platform/system.h"

namespace decision {
namespace {

class SystemRuleHost final : public RuleHost {
public:
    bool fileExists(const std::u16string& path) override { return app::fileExists(path); }
    std::u16string fileVersion(const std::u16string& path) override { return app::fileVersion(path); }
    std::u16string channel() override {
        using namespace app::settings;
        return readString(kSectionMain, kKeyClient, u"", kClientChars, kOrvixIsIni);
    }
    bool readRegistryPath(std::u16string& path) override { return app::readRegistryPath(path); }
    bool readRegistryPathFolder(std::u16string& path) override { return app::readRegistryPathFolder(path); }
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
