#include "app/deploy_settings.h"

#include "platform/files.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "text/text.h"

namespace app::deploy {

namespace {

constexpr char16_t kFileName[] = u"OvUpdate.deploy.ini";
#ifdef OV_TEST_HOOKS
constexpr char16_t kFileVariable[] = u"OVUPDATE_DEPLOY";
#endif
constexpr char16_t kSection[] = u"servers";
constexpr char16_t kDomainKeys[3][8] = {u"domain1", u"domain2", u"domain3"};
constexpr char16_t kReportKey[] = u"report";
constexpr char16_t kPublicKeyKeys[2][11] = {u"publickey", u"publickey2"};
constexpr char16_t kMaxAgeDaysKey[] = u"maxagedays";
constexpr char16_t kMaxReceiveRateKey[] = u"maxbytespersecond";
constexpr size_t kValueChars = 1024;

void overlay(std::u16string& value, const char16_t* key, const std::u16string& file) {
    std::u16string read = text::trim(plat::getProfileString(kSection, key, u"", kValueChars, file));
    while (!read.empty() && (read.back() == u'/' || read.back() == u'\\')) read.pop_back();
    if (!read.empty()) value = read;
}

}  // namespace

Servers loadServers(const std::u16string& file) {
    Servers s;
    s.domains[0] = u"" OV_DOMAIN1;
    s.domains[1] = u"" OV_DOMAIN2;
    s.domains[2] = u"" OV_DOMAIN3;
    s.report = u"" OV_REPORT;
    if (file.empty() || !plat::fileExists(file)) return s;
    for (int i = 0; i < 3; ++i) overlay(s.domains[i], kDomainKeys[i], file);
    overlay(s.report, kReportKey, file);
    for (int i = 0; i < 2; ++i)
        s.publicKeys[i] = text::trim(plat::getProfileString(kSection, kPublicKeyKeys[i], u"", kValueChars, file));
    s.maxAgeDays = plat::getProfileInt(kSection, kMaxAgeDaysKey, kDefaultMaxAgeDays, file);
    if (s.maxAgeDays <= 0) s.maxAgeDays = kDefaultMaxAgeDays;
    int rate = plat::getProfileInt(kSection, kMaxReceiveRateKey, 0, file);
    s.maxReceiveBytesPerSecond = rate > 0 ? rate : 0;
    return s;
}

std::u16string deployFile() {
#ifdef OV_TEST_HOOKS
    std::u16string named = plat::environmentVariable(kFileVariable);
    if (!named.empty()) return named;
#endif
    std::u16string folder = plat::parentFolder(plat::executablePath());
    return folder.empty() ? std::u16string(kFileName) : folder + u"\\" + kFileName;
}

const Servers& servers() {
    static const Servers loaded = loadServers(deployFile());
    return loaded;
}

}  // namespace app::deploy
