// The walk of the update-information document: domains, named folders, the player path,
// the package files worth keeping, and each update element tested against this machine.
#include <rapidxml/rapidxml.hpp>

#include <string_view>

#include "app/host_probes.h"
#include "app/log.h"
#include "app/settings.h"
#include "decision/plain_file_name.h"
#include "decision/update_driver.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

using Node = rapidxml::xml_node<char>;
using Attribute = rapidxml::xml_attribute<char>;

// Read in this order; a value that cannot be read stays as the registry string itself.
const char16_t* const kRegionRegistryStrings[] = {
    u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$area",     u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$country",
    u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$city",     u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$province",
    u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$net",
};
constexpr size_t kEnvironmentValueChars = 255;

std::string_view nameOf(const rapidxml::xml_base<char>& n) { return {n.name(), n.name_size()}; }
std::string_view valueOf(const rapidxml::xml_base<char>& n) { return {n.value(), n.value_size()}; }
std::u16string wideValue(const rapidxml::xml_base<char>& n) { return text::fromAnsi(valueOf(n)); }

bool nameIs(const rapidxml::xml_base<char>& n, std::string_view expected) {
    std::string_view name = nameOf(n);
    if (name.size() != expected.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char a = name[i], b = expected[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// Attributes are read in document order, so a repeated attribute's later value wins.
void readUpdateRecord(const Node& element, UpdateRecord& r) {
    for (const Attribute* a = element.first_attribute(); a; a = a->next_attribute()) {
        std::u16string v = wideValue(*a);
        std::string bytes(valueOf(*a));
        if (nameIs(*a, "name")) { r.name = v; r.nameBytes = bytes; }
        else if (nameIs(*a, "enable")) r.enable = text::atoi(v) == 1;
        else if (nameIs(*a, "runnow")) r.runnow = text::atoi(v);
        else if (nameIs(*a, "prismlink")) r.prismlink = v;
        else if (nameIs(*a, "filesize")) r.filesize = v;
        else if (nameIs(*a, "crc32")) r.crc32 = v;
        else if (nameIs(*a, "httplink")) r.httplink = v;
        else if (nameIs(*a, "httplinkfull")) r.httplinkfull = v;
        else if (nameIs(*a, "md5")) { r.md5 = v; r.md5Bytes = bytes; }
        else if (nameIs(*a, "probability")) r.probability = text::atoi(v);
        else if (nameIs(*a, "seed")) r.seed = text::atoi(v);
        else if (nameIs(*a, "usehttp")) r.usehttp = text::atoi(v);
        else if (nameIs(*a, "whitelist")) r.whitelist = v;
        else if (nameIs(*a, "blacklist")) r.blacklist = v;
        else if (nameIs(*a, "showtip")) r.showtip = text::atoi(v);
        else if (nameIs(*a, "verlog")) r.verlogBytes = bytes;
        else if (nameIs(*a, "ver")) r.verBytes = bytes;
        else if (nameIs(*a, "clientminver")) r.clientminver = v;
        else if (nameIs(*a, "clientmaxver")) r.clientmaxver = v;
        else if (nameIs(*a, "partnerid")) r.partnerid = v;
        else if (nameIs(*a, "basenumber")) r.basenumber = text::atoi(v) > 0 ? text::atoi(v) : 100;
    }
}

void readFileRecord(const Node& child, FileRecord& f) {
    f = FileRecord();
    for (const Attribute* a = child.first_attribute(); a; a = a->next_attribute()) {
        std::u16string v = wideValue(*a);
        if (nameIs(*a, "name")) f.name = v;
        else if (nameIs(*a, "ver")) f.ver = v;
        else if (nameIs(*a, "path")) f.path = v;
        else if (nameIs(*a, "minver")) f.minver = v;
        else if (nameIs(*a, "maxver")) f.maxver = v;
        else if (nameIs(*a, "subpath")) f.subpath = v;
    }
}

// "%NAME%rest": the variable's value followed by rest. Anything else, or a variable that
// is not set, gives no folder, so a folder is never made up from the text alone.
std::u16string expandEnvironmentReference(const std::u16string& reference) {
    if (reference.size() < 2 || reference[0] != u'%') return {};
    size_t close = reference.find(u'%', 1);
    if (close == std::u16string::npos) return {};
    std::u16string value = plat::environmentVariable(reference.substr(1, close - 1));
    if (value.empty()) return {};
    if (value.size() > kEnvironmentValueChars) value.resize(kEnvironmentValueChars);
    return value + reference.substr(close + 1);
}

void readNamedPaths(const Node& element, std::map<std::u16string, std::u16string>& paths) {
    for (const Node* child = element.first_node(); child; child = child->next_sibling()) {
        std::u16string name, flag, reg = u"false";
        for (const Attribute* a = child->first_attribute(); a; a = a->next_attribute()) {
            if (nameIs(*a, "name")) name = wideValue(*a);
            else if (nameIs(*a, "flag")) flag = wideValue(*a);
            else if (nameIs(*a, "reg")) reg = wideValue(*a);
        }
        std::u16string folder;
        if (text::equalsNoCase(reg, u"true")) {
            folder = name;
            if (!readRegistryPathFolder(folder)) folder.clear();
        } else {
            folder = expandEnvironmentReference(name);
        }
        if (!folder.empty()) paths[flag] = folder;
    }
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

// A black list, when present, decides alone; otherwise a white list must name a region.
bool regionPasses(const UpdateRecord& r, const std::vector<std::u16string>& regions) {
    if (!r.blacklist.empty()) return !anyRegionListed(regions, r.blacklist);
    if (!r.whitelist.empty()) return anyRegionListed(regions, r.whitelist);
    return true;
}

}  // namespace

void UpdateDriver::gatherRegionValues() {
    for (const char16_t* registryString : kRegionRegistryStrings) {
        std::u16string value = registryString;
        readRegistryPathFolder(value);
        if (!value.empty()) m_regionValues.push_back(value);
    }
}

void UpdateDriver::evaluateUpdateDocument(Node& document) {
    Node* root = document.first_node();
    if (!root) {
        finishUpdateRun(kRunNoUpdate, false);
        return;
    }
    for (Node* child = root->first_node(); child; child = child->next_sibling()) {
        if (nameIs(*child, "Domain")) {
            int counter = 1;
            for (const Node* d = child->first_node(); d; d = d->next_sibling()) {
                std::u16string domain = wideValue(*d);
                if (domain.empty()) continue;
                m_packageDomains.push_back(domain);
                LOG(u"domain%d->%s", counter++, domain);
            }
        } else if (nameIs(*child, "Path")) {
            readNamedPaths(*child, m_namedPaths);
        } else if (nameIs(*child, "Clientpath")) {
            std::u16string path = wideValue(*child);
            if (readRegistryPath(path) && !path.empty()) m_clientPath = path;
        } else if (nameIs(*child, "recentfile")) {
            for (const Node* f = child->first_node(); f; f = f->next_sibling())
                m_recentFiles.push_back(wideValue(*f));
            cleanPackageDirectory();
        } else if (nameIs(*child, "update")) {
            m_update = UpdateRecord();
            if (evaluateUpdateElement(*child) && decidePackage()) return;
        }
    }
    finishUpdateRun(kRunNoUpdate, false);
}

bool UpdateDriver::updateIsValid() {
    const UpdateRecord& u = m_update;
    // A package name becomes a path in the save folder: anything but a bare file name is
    // refused like a disabled element.
    if (!u.enable || !isPlainFileName(u.name)) {
        LOG(u"%s节点无效", u.name);
        return false;
    }
    std::u16string version = m_clientPath.empty() ? std::u16string() : fileVersion(m_clientPath);
    if (!u.clientminver.empty() && compareVersions(version, u.clientminver) == -1) {
        LOG(u"%s的版本号%s小于%s，%s节点无效", m_clientPath, version, u.clientminver, u.name);
        return false;
    }
    if (!u.clientmaxver.empty() && compareVersions(version, u.clientmaxver) == 1) {
        LOG(u"%s的版本号%s大于%s，%s节点无效", m_clientPath, version, u.clientmaxver, u.name);
        return false;
    }
    if (!u.partnerid.empty()) {
        using namespace settings;
        std::u16string channel = readString(kSectionMain, kKeyClient, u"", kClientChars, kOrvixIsIni);
        for (const std::u16string& id : text::split(u.partnerid, u";")) {
            if (channel.find(id) != std::u16string::npos) {
                LOG(u"xml渠道id:%s命中%s，此渠道不升级, %s节点无效", u.partnerid, channel, u.name);
                return false;
            }
        }
    }
    LOG(u"xml版本区间%s--%s,渠道id:%s, %s节点有效", u.clientminver, u.clientmaxver, u.partnerid, u.name);
    return true;
}

bool UpdateDriver::evaluateUpdateElement(Node& element) {
    readUpdateRecord(element, m_update);
    std::u16string name = m_update.name;
    if (!updateIsValid() || !regionPasses(m_update, m_regionValues)) {
        LOG(u"updatenode节点%s无效或者区域无效清除此节点信息", name);
        m_update = UpdateRecord();
        return false;
    }
    for (const Node* child = element.first_node(); child; child = child->next_sibling()) {
        readFileRecord(*child, m_file);
        if (fileTest()) {
            LOG(u"updatenode节点%s里file节点%s满足条件去升级", name, m_file.name);
            return true;
        }
        LOG(u"updatenode节点%s里file节点%s不满足升级条件删除当前file节点信息", name, m_file.name);
        m_file = FileRecord();
    }
    LOG(u"updatenode节点%s里所有file节点不满足升级条件删除当前updatenode节点信息", name);
    m_update = UpdateRecord();
    return false;
}

bool UpdateDriver::fileTest() {
    const FileRecord& f = m_file;
    std::u16string base = m_namedPaths[f.path];  // an unknown key enters an empty folder
    std::u16string full = base;
    if (!f.subpath.empty()) full += u"\\" + f.subpath;
    full += u"\\" + f.name;
    if (fileExists(full)) {
        std::u16string local = fileVersion(full);
        if (!f.ver.empty() && compareVersions(local, f.ver) >= 0) {
            LOG(u"本地文件%s版本号%s大于等于升级的版本%s", full, local, f.ver);
            return false;
        }
        if (!f.minver.empty() && compareVersions(local, f.minver) == -1) {
            LOG(u"本地文件%s版本号%s小于%s", full, local, f.minver);
            return false;
        }
        if (!f.maxver.empty() && compareVersions(local, f.maxver) == 1) {
            LOG(u"本地文件%s版本号%s大于%s", full, local, f.maxver);
            return false;
        }
    }
    LOG(u"子节点路径：%s，使用的第%s个路径：%s，最终路径%s", f.subpath, f.path, base, full);
    return true;
}
