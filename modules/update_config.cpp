// upcfg.xml: which module sources apply to which player versions and to what share of
// machines.
#include <climits>
#include "app/deploy_settings.h"
#include "fetch/transfer.h"
#include "modules/module_updater.h"
#include "text/text.h"
#include "xml/xml_document.h"

namespace modules {

namespace {

constexpr char16_t kConfigPath[] = u"/product/OvUpdate/upcfg.xml";

// A decimal number read the way wcstol reads it: leading blanks, an optional sign, then
// digits up to the first other character; no digits give 0, and a number beyond the
// 32-bit range gives the nearest end of it.
int32_t readNumber(const std::u16string& s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == u' ' || (s[i] >= u'\t' && s[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
    long long value = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        value = value * 10 + (s[i] - u'0');
        if (value > static_cast<long long>(INT32_MAX) + 1) value = static_cast<long long>(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    return static_cast<int32_t>(value);
}

// 99 and above (and every negative value, taken unsigned) mean everyone.
int32_t clampPercent(int32_t percent) { return static_cast<uint32_t>(percent) >= 99u ? 100 : percent; }

UpdateNode readNode(const XmlDocument& doc) {
    UpdateNode node;
    node.maxVersion = doc.readAttribute(u"maxver");
    node.minVersion = doc.readAttribute(u"miniver");
    node.sourceDir = doc.readAttribute(u"sdir");
    node.percent = clampPercent(readNumber(doc.readAttribute(u"percent")));
    std::u16string seed = doc.readAttribute(u"seed");
    if (!seed.empty()) node.seed = readNumber(seed);
    return node;
}

}  // namespace

bool ModuleUpdater::DownloadUpdateCfgFile(const std::u16string& cfgOverride, std::vector<UpdateNode>& nodes) {
    std::u16string url = !cfgOverride.empty() ? cfgOverride : app::deploy::servers().domains[0] + kConfigPath;
    log(u"download config file url %s\r\n", url);
    fetch::TransferRequest request;
    request.url = url;
    request.policy = fetch::moduleGetPolicy(fetch::ModuleBody::Document);
    if (!fetch::performTransfer(request) || request.responseBody.empty() ||
        !DocumentAccepted(url, request.responseBody))
        return false;
    return readUpdateConfig(request.responseBody, nodes);
}

bool readUpdateConfig(const std::string& body, std::vector<UpdateNode>& nodes) {
    XmlDocument doc;
    if (!doc.parseText(text::fromUtf8(body)) || !doc.findElement(u"root") || !doc.enterElement() ||
        !doc.findElement(u"updates") || !doc.enterElement()) {
        return false;
    }
    while (doc.findElement(u"up")) nodes.push_back(readNode(doc));
    doc.leaveElement();
    return true;
}

}  // namespace modules
