#include "decision/update_rules.h"

#include "app/file_digests.h"
#include "app/host_probes.h"
#include "app/log.h"
#include "app/plain_file_name.h"
#include "decision/rule_texts.h"
#include "platform/text.h"

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

bool updateIsValid(const UpdateRecord& u, const std::u16string& clientPath, RuleHost& host) {
    // A package name becomes a path in the save folder: anything but a bare file name is
    // refused like a disabled element.
    if (!u.enable || !isPlainFileName(u.name)) {
        LOG(texts::kInvalid, u.name);
        return false;
    }
    std::u16string version = clientPath.empty() ? std::u16string() : host.fileVersion(clientPath);
    if (!u.clientminver.empty() && compareVersions(version, u.clientminver) == -1) {
        LOG(texts::kBelowMinimum, clientPath, version, u.clientminver, u.name);
        return false;
    }
    if (!u.clientmaxver.empty() && compareVersions(version, u.clientmaxver) == 1) {
        LOG(texts::kAboveMaximum, clientPath, version, u.clientmaxver, u.name);
        return false;
    }
    if (!u.partnerid.empty()) {
        std::u16string channel = host.channel();
        for (const std::u16string& id : text::split(u.partnerid, u";")) {
            if (channel.find(id) != std::u16string::npos) {
                LOG(texts::kChannelExcluded, u.partnerid, channel, u.name);
                return false;
            }
        }
    }
    LOG(u"xml版本区间%s--%s,渠道id:%s, %s节点有效", u.clientminver, u.clientmaxver, u.partnerid, u.name);
    return true;
}

bool signedUpdateIsValid(const UpdateRecord& u, const std::u16string& clientPath, RuleHost& host) {
    if (!isSha256Text(u.sha256)) {
        LOG(u"%s has no sha256 of 64 hex digits", u.name);
        return false;
    }
    std::u16string installed = clientPath.empty() ? std::u16string() : host.fileVersion(clientPath);
    std::u16string offered = text::fromAnsi(u.verBytes);
    // A version that is not four numbers would compare as equal and pass the rule below.
    if (!isVersionText(offered)) {
        LOG(u"%s has no ver of four numbers: %s", u.name, offered);
        return false;
    }
    if (!u.allowdowngrade && compareVersions(installed, offered) == 1) {
        LOG(u"installed version %s is newer than %s offered by %s: downgrade refused", installed, offered, u.name);
        return false;
    }
    return true;
}

bool regionPasses(const UpdateRecord& u, const std::vector<std::u16string>& regions) {
    if (!u.blacklist.empty()) return !anyRegionListed(regions, u.blacklist);
    if (!u.whitelist.empty()) return anyRegionListed(regions, u.whitelist);
    return true;
}

bool fileTest(const FileRecord& f, const NamedPaths& folders, RuleHost& host) {
    auto known = folders.find(f.path);  // an unknown key enters an empty folder
    std::u16string base = known == folders.end() ? std::u16string() : known->second;
    std::u16string full = base;
    if (!f.subpath.empty()) full += u"\\" + f.subpath;
    full += u"\\" + f.name;
    if (host.fileExists(full)) {
        std::u16string local = host.fileVersion(full);
        if (!f.ver.empty() && compareVersions(local, f.ver) >= 0) {
            LOG(texts::kFileNotOlder, full, local, f.ver);
            return false;
        }
        if (!f.minver.empty() && compareVersions(local, f.minver) == -1) {
            LOG(texts::kFileBelowMinimum, full, local, f.minver);
            return false;
        }
        if (!f.maxver.empty() && compareVersions(local, f.maxver) == 1) {
            LOG(texts::kFileAboveMaximum, full, local, f.maxver);
            return false;
        }
    }
    LOG(u"子节点路径：%s，使用的第%s个路径：%s，最终路径%s", f.subpath, f.path, base, full);
    return true;
}

bool updateApplies(const DocumentItem& item, const RuleContext& context, RuleHost& host) {
    const std::u16string& name = item.update.name;
    if (!updateIsValid(item.update, context.clientPath, host) ||
        (context.signedDocuments && !signedUpdateIsValid(item.update, context.clientPath, host)) ||
        !regionPasses(item.update, context.regions)) {
        LOG(texts::kInvalidOrRegion, name);
        return false;
    }
    for (const FileRecord& file : item.files) {
        if (fileTest(file, context.folders, host)) {
            LOG(u"updatenode节点%s里file节点%s满足条件去升级", name, file.name);
            return true;
        }
        LOG(u"updatenode节点%s里file节点%s不满足升级条件删除当前file节点信息", name, file.name);
    }
    LOG(u"updatenode节点%s里所有file节点不满足升级条件删除当前updatenode节点信息", name);
    return false;
}

}  // namespace decision
