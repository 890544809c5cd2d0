#include "decision/update_rules.h"

#include "app/host_probes.h"
#include "app/sha256.h"
#include "app/plain_file_name.h"
#include "text/text.h"

namespace decision {
namespace {

// Read in this order.
const char16_t* const kRegionRegistryStrings[] = {
    u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$area", u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$country",
    u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$city", u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$province",
    u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$net",
};
constexpr size_t kEnvironmentValueChars = 255;

// "%NAME%rest": the variable's value followed by rest. Anything else, or a variable that
// is not set, gives no folder, so a folder is never made up from the text alone.
std::u16string expandEnvironmentReference(const std::u16string& reference, RuleHost& host) {
    if (reference.size() < 2 || reference[0] != u'%') return {};
    size_t close = reference.find(u'%', 1);
    if (close == std::u16string::npos) return {};
    std::u16string value = host.environmentVariable(reference.substr(1, close - 1));
    if (value.empty()) return {};
    if (value.size() > kEnvironmentValueChars) value.resize(kEnvironmentValueChars);
    return value + reference.substr(close + 1);
}

// Region codes of a "|" list, trimmed, empty pieces dropped.
std::vector<std::u16string> regionCodes(const std::u16string& list) {
    std::vector<std::u16string> codes;
    for (const std::u16string& piece : text::split(list, u"|")) {
        std::u16string code = text::trim(piece);
        if (!code.empty()) codes.push_back(code);
    }
    return codes;
}

bool anyRegionListed(const std::vector<std::u16string>& regions, const std::u16string& list) {
    for (const std::u16string& code : regionCodes(list))
        for (const std::u16string& region : regions)
            if (region == code) return true;
    return false;
}

}  // namespace

std::vector<std::u16string> gatherRegionValues(RuleHost& host) {
    std::vector<std::u16string> regions;
    for (const char16_t* registryString : kRegionRegistryStrings) {
        std::u16string value = registryString;
        host.readRegistryPathFolder(value);
        if (!value.empty()) regions.push_back(value);
    }
    return regions;
}

void addNamedPaths(const std::vector<NamedPath>& paths, RuleHost& host, NamedPaths& folders) {
    for (const NamedPath& p : paths) {
        std::u16string folder;
        if (text::equalsNoCase(p.reg, u"true")) {
            folder = p.name;
            if (!host.readRegistryPathFolder(folder)) folder.clear();
        } else {
            folder = expandEnvironmentReference(p.name, host);
        }
        if (!folder.empty()) folders[p.flag] = folder;
    }
}

RuleVerdict validity(const UpdateRecord& u, const std::u16string& clientPath, RuleHost& host) {
    using R = RuleVerdict::Reason;
    if (!u.enable) return {R::Disabled};
    // A package name becomes a path in the save folder: anything but a bare file name is
    // refused like a disabled element.
    if (!app::isPlainFileName(u.name)) return {R::NotPlainName};
    std::u16string version = clientPath.empty() ? std::u16string() : host.fileVersion(clientPath);
    if (!u.clientminver.empty() && app::compareVersions(version, u.clientminver) == -1)
        return {R::BelowMinimum, clientPath, version, u.clientminver};
    if (!u.clientmaxver.empty() && app::compareVersions(version, u.clientmaxver) == 1)
        return {R::AboveMaximum, clientPath, version, u.clientmaxver};
    if (u.partnerid.empty()) return {};
    std::u16string channel = host.channel();
    for (const std::u16string& id : text::split(u.partnerid, u";"))
        if (channel.find(id) != std::u16string::npos) return {R::ChannelExcluded, {}, channel, u.partnerid};
    return {};
}

RuleVerdict signedValidity(const UpdateRecord& u, const std::u16string& clientPath, RuleHost& host) {
    using R = RuleVerdict::Reason;
    if (!app::isSha256Text(u.sha256)) return {R::NoSha256, {}, u.sha256};
    std::u16string installed = clientPath.empty() ? std::u16string() : host.fileVersion(clientPath);
    std::u16string offered = text::fromAnsi(u.verBytes);
    // A version that is not four numbers would compare as equal and pass the rule below.
    if (!app::isVersionText(offered)) return {R::NotFourNumbers, {}, offered};
    if (!u.allowdowngrade && app::compareVersions(installed, offered) == 1)
        return {R::Downgrade, clientPath, installed, offered};
    return {};
}

RuleVerdict regionVerdict(const UpdateRecord& u, const std::vector<std::u16string>& regions) {
    using R = RuleVerdict::Reason;
    std::u16string joined;
    for (const std::u16string& region : regions) joined += (joined.empty() ? u"" : u",") + region;
    if (!u.blacklist.empty())
        return anyRegionListed(regions, u.blacklist) ? RuleVerdict{R::Blacklisted, {}, joined, u.blacklist}
                                                     : RuleVerdict{};
    if (!u.whitelist.empty() && !anyRegionListed(regions, u.whitelist))
        return {R::NotWhitelisted, {}, joined, u.whitelist};
    return {};
}

FileVerdict fileVerdict(const FileRecord& f, const NamedPaths& folders, RuleHost& host) {
    using R = RuleVerdict::Reason;
    auto known = folders.find(f.path);  // an unknown key enters an empty folder
    std::u16string folder = known == folders.end() ? std::u16string() : known->second;
    std::u16string full = folder;
    if (!f.subpath.empty()) full += u"\\" + f.subpath;
    full += u"\\" + f.name;
    FileVerdict v{{R::Passes, full}, folder};
    if (!host.fileExists(full)) return v;
    std::u16string local = host.fileVersion(full);
    if (!f.ver.empty() && app::compareVersions(local, f.ver) >= 0) v.rule = {R::FileNotOlder, full, local, f.ver};
    else if (!f.minver.empty() && app::compareVersions(local, f.minver) == -1)
        v.rule = {R::FileBelowMinimum, full, local, f.minver};
    else if (!f.maxver.empty() && app::compareVersions(local, f.maxver) == 1)
        v.rule = {R::FileAboveMaximum, full, local, f.maxver};
    return v;
}

ElementVerdict elementVerdict(const DocumentItem& item, const RuleContext& context, RuleHost& host) {
    ElementVerdict v;
    v.validity = validity(item.update, context.clientPath, host);
    if (v.validity.passes() && context.signedDocuments)
        v.signedCheck = signedValidity(item.update, context.clientPath, host);
    if (!v.refusal()) v.region = regionVerdict(item.update, context.regions);
    if (v.refusal()) return v;
    for (const FileRecord& file : item.files) {
        v.files.push_back(fileVerdict(file, context.folders, host));
        if (v.files.back().rule.passes()) break;
    }
    return v;
}

}  // namespace decision
