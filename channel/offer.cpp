#include "channel/offer.h"

#include "app/deploy_settings.h"
#include "app/host_probes.h"
#include "app/sha256.h"
#include "app/plain_file_name.h"
#include "app/settings.h"
#include "xml/xml_document.h"

namespace channel {
namespace {

constexpr char16_t kDocumentPath[] = u"/product/OvUpdate/OvUpdateInfo.xml";
constexpr char16_t kDebugDocumentPath[] = u"/product/OvUpdate/OvUpdateInfo_Debug.xml";
constexpr char16_t kPackageFolder[] = u"\\OvUpdate\\";

}  // namespace

Offer& offerRecord() {
    static Offer offer;
    return offer;
}

std::u16string offerDocumentUrl() {
    bool debug = app::settings::readInt(app::settings::kSectionTest, app::settings::kKeyDebug, 0, app::settings::kOvUpdateIni) == 1;
    return app::deploy::servers().domains[0] + (debug ? kDebugDocumentPath : kDocumentPath);
}

bool readOffer(const std::u16string& document, Offer& offer, bool signedDocument) {
    XmlDocument xml(document);
    if (!xml.findElement(u"update") || !xml.enterElement() || !xml.findElement(u"exeupdate")) return false;
    Offer read;
    read.version = xml.readAttribute(u"version");
    read.md5 = xml.readAttribute(u"md5");
    read.setupUrl = xml.readAttribute(u"url");
    read.verinfo = xml.readAttribute(u"verinfo");
    read.filename = xml.readAttribute(u"filename");
    if (signedDocument) {
        read.sha256 = xml.readAttribute(u"sha256");
        if (!app::isSha256Text(read.sha256) || !app::isVersionText(read.version)) return false;
    }
    // The document comes over plain HTTP: its name must not climb out of the package folder.
    if (!read.filename.empty() && !app::isPlainFileName(read.filename)) return false;
    read.savePath =
        read.filename.empty() ? offer.savePath : app::settings::dataFolder() + kPackageFolder + read.filename;
    offer = read;
    return true;
}

}  // namespace channel
