// ovpublish package INSTALLER OUT_DIR --version V --url URL [--notes TEXT] [--channel C]
//                   [--percent P --seed S] [--set NAME=VALUE]... [--sign SECRET_KEY]
//
// Puts the installer into the served tree where its URL points and describes it twice:
// as an update element of product/OvUpdate/OvUpdate.xml (added in front of the other
// update elements, or replacing the element of the same package name) and as the offer
// of product/OvUpdate/OvUpdateInfo.xml. The element's file child makes it apply to
// players older than V; a player at V or newer is skipped.
#include <cstdio>

#include "app/plain_file_name.h"
#include "text/text.h"
#include "tools/publish/commands.h"
#include "tools/publish/options.h"
#include "tools/publish/served_tree.h"
#include "tools/publish/signing.h"
#include "xml/xml_document.h"

namespace publish {
namespace {

constexpr char kHelp[] =
    "usage: ovpublish package INSTALLER OUT_DIR --version V --url URL [--notes TEXT]\n"
    "                 [--channel C] [--percent P --seed S] [--set NAME=VALUE]... [--sign SECRET_KEY]\n"
    "Copies INSTALLER to OUT_DIR + the URL's path, adds or replaces its update element in\n"
    "OUT_DIR/product/OvUpdate/OvUpdate.xml and writes the offer OUT_DIR/product/OvUpdate/OvUpdateInfo.xml.\n"
    "  --version V     the installer's version (four numbers); players older than V take it\n"
    "  --url URL       complete http:// or https:// URL the installer is served at\n"
    "  --notes TEXT    release notes shown by the player (default \"Version V\")\n"
    "  --channel C     distribution channels that must not take it (partnerid, \";\" between)\n"
    "  --percent P --seed S  staged rollout: share of machines and hash seed (default 100, 1000)\n"
    "  --set NAME=VALUE      any other attribute of the update element (runnow, showtip, usehttp, critical, ...)\n"
    "  --sign SECRET_KEY     writes both documents' .minisig\n";

constexpr char16_t kPlayerFolderFlag[] = u"1";
constexpr char16_t kPlayerFile[] = u"Orvix.exe";

// A new document: the player's folder as named path 1 and the player as the client path,
// which the file child of every update element refers to.
constexpr char16_t kSkeleton[] =
    u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<updateinfo>\r\n<Path>\r\n"
    u"<path name=\"HKEY_LOCAL_MACHINE$$$$SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe$$$$ "
    u"\" "
    u"flag=\"1\" reg=\"true\"/>\r\n</Path>\r\n<Clientpath>"
    u"HKEY_LOCAL_MACHINE$$$$SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe$$$$ "
    u"</Clientpath>\r\n</updateinfo>\r\n";

struct Release {
    std::u16string name, version, url, notes, channel, percent, seed;
    std::vector<std::pair<std::u16string, std::u16string>> extra;
    Digests digests;
};

// Four decimal numbers joined by ".", the only form the agent compares.
bool isVersion(const std::u16string& v) {
    std::vector<std::u16string> parts = text::split(v, u".");
    if (parts.size() != 4 || v.front() == u'.' || v.back() == u'.' || v.find(u"..") != std::u16string::npos)
        return false;
    for (const std::u16string& part : parts)
        if (part.size() > 5 || part.find_first_not_of(u"0123456789") != std::u16string::npos) return false;
    return true;
}

// "http://host[:port]/path" -> "/path"; empty when the URL is not complete.
std::string urlPath(const std::string& url) {
    size_t scheme = url.find("://");
    if (scheme == std::string::npos ||
        (url.compare(0, scheme, "http") != 0 && url.compare(0, scheme, "https") != 0))
        return {};
    size_t path = url.find('/', scheme + 3);
    if (path == std::string::npos) return {};
    return url.substr(path, url.find_first_of("?#", path) - path);
}

void setAttributes(XmlDocument& doc, const Release& r) {
    doc.setAttribute(u"name", r.name);
    doc.setAttribute(u"enable", u"1");
    doc.setAttribute(u"ver", r.version);
    doc.setAttribute(u"md5", text::fromUtf8(r.digests.md5));
    doc.setAttribute(u"sha256", text::fromUtf8(r.digests.sha256));
    doc.setAttribute(u"filesize", text::fromInt(static_cast<long long>(r.digests.size)));
    doc.setAttribute(u"crc32", text::fromUtf8(r.digests.crc32));
    doc.setAttribute(u"httplinkfull", r.url);
    doc.setAttribute(u"verlog", r.notes);
    doc.setAttribute(u"partnerid", r.channel);
    doc.setAttribute(u"probability", r.percent);
    doc.setAttribute(u"seed", r.seed);
    for (const auto& [name, value] : r.extra) doc.setAttribute(name, value);
}

// The file child: the player itself, older than the release.
void setPlayerChild(XmlDocument& doc, const Release& r) {
    doc.enterElement();
    bool found = false;
    while (!found && doc.findElement(u"")) found = text::equalsNoCase(doc.readAttribute(u"name"), kPlayerFile);
    if (!found) {
        doc.leaveElement();
        doc.enterElement();  // no current child: the new one goes last
        doc.addElement(u"file");
        doc.setAttribute(u"name", kPlayerFile);
        doc.setAttribute(u"path", kPlayerFolderFlag);
    }
    doc.setAttribute(u"ver", r.version);
    doc.leaveElement();
}

// Moves to the root's child number index (0 = the first); false when there are fewer.
bool moveToChild(XmlDocument& doc, int index) {
    doc.parseText(std::u16string(doc.text()));
    if (!doc.findElement(u"") || !doc.enterElement()) return false;
    for (int i = 0; i <= index; ++i)
        if (!doc.findElement(u"")) return false;
    return true;
}

// Replaces the element of the same package, or adds one in front of every update element
// (the agent takes the first that applies, so the newest release comes first).
void placeUpdateElement(XmlDocument& doc, const Release& r) {
    int index = 0, firstUpdate = -1;
    moveToChild(doc, -1);
    for (; doc.findElement(u""); ++index) {
        if (!text::equalsNoCase(doc.elementName(), u"update")) continue;
        if (firstUpdate < 0) firstUpdate = index;
        if (text::equalsNoCase(doc.readAttribute(u"name"), r.name)) {
            setAttributes(doc, r);
            setPlayerChild(doc, r);
            return;
        }
    }
    if (firstUpdate > 0) moveToChild(doc, firstUpdate - 1);
    else moveToChild(doc, -1);  // inside the root, no current element: added last
    doc.addElement(u"update");
    setAttributes(doc, r);
    setPlayerChild(doc, r);
}

bool writeUpdateDocument(const fs::path& path, const Release& r, std::string& error) {
    XmlDocument doc;
    if (fs::exists(path) ? !doc.loadFile(agentPath(path)) : !doc.parseText(kSkeleton)) {
        error = utf8(path) + ": not a well-formed document";
        return false;
    }
    placeUpdateElement(doc, r);
    if (!doc.saveFile(agentPath(path))) error = utf8(path) + ": cannot write";
    return error.empty();
}

bool writeOffer(const fs::path& path, const Release& r, std::string& error) {
    XmlDocument doc(u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n");
    doc.addElement(u"update");
    doc.enterElement();
    doc.addElement(u"exeupdate");
    doc.setAttribute(u"version", r.version);
    doc.setAttribute(u"md5", text::fromUtf8(r.digests.md5));
    doc.setAttribute(u"sha256", text::fromUtf8(r.digests.sha256));
    doc.setAttribute(u"url", r.url);
    doc.setAttribute(u"verinfo", r.notes);
    doc.setAttribute(u"filename", r.name);
    doc.leaveElement();
    if (!doc.saveFile(agentPath(path))) error = utf8(path) + ": cannot write";
    return error.empty();
}

bool readRelease(const Options& o, Release& r, std::string& error) {
    r.version = text::fromUtf8(o.value("--version"));
    r.url = text::fromUtf8(o.value("--url"));
    r.notes = text::fromUtf8(o.value("--notes", "Version " + o.value("--version")));
    r.channel = text::fromUtf8(o.value("--channel"));
    r.percent = text::fromUtf8(o.value("--percent", "100"));
    r.seed = text::fromUtf8(o.value("--seed", "1000"));
    if (!isVersion(r.version)) error = "--version needs four numbers, such as 3.2.0.1";
    else if (text::atoi(r.percent) < 0 || text::atoi(r.percent) > 100 ||
             text::fromInt(text::atoi(r.percent)) != r.percent)
        error = "--percent needs a number from 0 to 100";
    else if (text::fromInt(text::atoi(r.seed)) != r.seed) error = "--seed needs a number";
    for (const std::string& set : o.all("--set")) {
        size_t eq = set.find('=');
        if (eq == std::string::npos || eq == 0) error = "--set needs NAME=VALUE, not " + set;
        else r.extra.emplace_back(text::fromUtf8(set.substr(0, eq)), text::fromUtf8(set.substr(eq + 1)));
    }
    return error.empty();
}

}  // namespace

int packageCommand(int argc, char** argv) {
    Options o;
    std::string error;
    KnownOptions known{{"--version", "--url", "--notes", "--channel", "--percent", "--seed", "--set", "--sign"},
                       {}};
    if (!parseOptions(argc, argv, known, o, error)) return fail(error);
    if (o.has("--help")) return std::fputs(kHelp, stdout), 0;
    if (o.positional.size() != 2 || !o.has("--version") || !o.has("--url"))
        return fail("package needs INSTALLER, OUT_DIR, --version and --url (see --help)");
    if (o.has("--percent") != o.has("--seed")) return fail("--percent and --seed go together");
    fs::path installer = fromUtf8Path(o.positional[0]), out = fromUtf8Path(o.positional[1]);
    Release r;
    if (!readRelease(o, r, error)) return fail(error);
    std::string path = urlPath(o.value("--url"));
    if (path.empty() || path.back() == '/')
        return fail("--url needs a complete http:// or https:// URL of the file");
    r.name = agentPath(installer.filename());
    if (!app::isPlainFileName(r.name)) return fail(utf8(installer) + ": not a plain file name");
    std::string bytes;
    if (!readBytes(installer, bytes) || bytes.empty())
        return fail(utf8(installer) + ": cannot read the installer");
    r.digests = digestsOf(bytes);
    SecretKey key;
    if (o.has("--sign") && !loadSecretKey(fromUtf8Path(o.value("--sign")), key, error)) return fail(error);

    fs::path served = out / fromUtf8Path(path.substr(1));
    if (!writeBytes(served, bytes)) return fail(utf8(served) + ": cannot write the installer");
    fs::path product = out / "product" / "OvUpdate";
    fs::create_directories(product);
    fs::path document = product / "OvUpdate.xml", offer = product / "OvUpdateInfo.xml";
    if (!writeUpdateDocument(document, r, error) || !writeOffer(offer, r, error)) return fail(error);
    const SecretKey* signer = o.has("--sign") ? &key : nullptr;
    if (!sealDocument(document, pathInTree(out, document), signer, error) ||
        !sealDocument(offer, pathInTree(out, offer), signer, error))
        return fail(error);
    std::printf("%s %s: %s, %s and %s\n", text::toUtf8(r.name).c_str(), text::toUtf8(r.version).c_str(),
                utf8(served).c_str(), utf8(document).c_str(), utf8(offer).c_str());
    return 0;
}

}  // namespace publish
