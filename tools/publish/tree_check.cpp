// ovpublish verify ROOT [--pubkey PUBKEY_FILE [--max-age-days N]] [--delta-from PREVIOUS_DIR ...]
//
// Checks a served tree as the agent will see it, with the agent's own readers: the
// update-information documents, the offers, upcfg.xml and every module list; the packages
// and archives they point at (present, digests and size right, one entry of the listed
// name), the patches of the module lists (present, digests and size right, and applied to
// an earlier release's file where one is given, the listed file); and the signature beside
// each document.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "app/sha256.h"
#include "app/plain_file_name.h"
#include "app/signed_document.h"
#include "channel/offer.h"
#include "decision/update_document.h"
#include "modules/module_updater.h"
#include "text/text.h"
#include "tools/publish/archive_check.h"
#include "tools/publish/commands.h"
#include "tools/publish/options.h"
#include "tools/publish/patch_check.h"
#include "tools/publish/served_tree.h"
#include "tools/publish/signature_check.h"
#include "xml/xml_document.h"

using modules::ModuleUpdater;
using modules::ModuleEntry;
using modules::UpdateNode;
using modules::readUpdateConfig;

namespace publish {
namespace {

constexpr char kHelp[] =
    "usage: ovpublish verify ROOT [--pubkey PUBKEY_FILE [--max-age-days N]] [--delta-from PREVIOUS_DIR ...]\n"
    "Checks the served tree ROOT as the agent will see it. Prints one line per problem\n"
    "(path: what is wrong) and exits 1, or a one-line summary and exits 0. With --pubkey\n"
    "every document must carry a prehashed signature (.minisig) by that key naming its path\n"
    "in the tree, made neither in the future nor more than N days ago (the deployment's\n"
    "maxagedays, default 30), and every package and module its sha256, as a deployment with\n"
    "that key demands; a signature that expires within 7 days is named (sign it again with\n"
    "ovpublish sign --key KEY --root ROOT). Every patch a module list offers is checked too,\n"
    "and applied to the file it is made from where a --delta-from folder (laid out as an\n"
    "earlier release installed the player) holds it.\n";

constexpr char kNoSha256[] = " has no sha256 of 64 hex digits (a signed deployment refuses it)";
const char* const kUpdateDocuments[] = {"OvUpdate.xml", "OvUpdate_Debug.xml"};
const char* const kOffers[] = {"OvUpdateInfo.xml", "OvUpdateInfo_Debug.xml"};
constexpr char kConfig[] = "upcfg.xml";
constexpr char kModuleList[] = "update.xml";
constexpr char16_t kAnyHost[] = u"http://served.tree/";
constexpr uint64_t kExpiryNoticeSeconds = 7 * app::signing::kSecondsPerDay;

bool equalsNoCase(const std::string& a, const std::string& b) {
    return text::equalsNoCase(text::fromUtf8(a), text::fromUtf8(b));
}

// An attribute of every element called name among the children of the root, in order: the
// module list's reader keeps the SHA-256 digests only where the deployment has a key.
std::vector<std::u16string> attributeOfEach(const std::string& bytes, std::u16string_view name,
                                            std::u16string_view attribute) {
    std::vector<std::u16string> values;
    XmlDocument doc(text::fromUtf8(bytes));
    if (!doc.findElement(u"") || !doc.enterElement()) return values;
    while (doc.findElement(u""))
        if (text::equalsNoCase(doc.elementName(), name)) values.push_back(doc.readAttribute(attribute));
    return values;
}

class TreeCheck {
public:
    TreeCheck(fs::path root, const SignatureCheck& check, std::vector<fs::path> earlier)
        : m_root(std::move(root)), m_key(check.key), m_check(check), m_earlier(std::move(earlier)) {}

    void run();
    int report() const;

private:
    void problem(const fs::path& path, const std::string& what) {
        m_problems.push_back(shown(m_root, path) + ": " + what);
    }
    bool readDocument(const fs::path& path, std::string& bytes);
    void noteExpiry(const fs::path& path, uint64_t timestamp);
    void checkUpdateDocument(const fs::path& path);
    void checkOffer(const fs::path& path);
    void checkConfig(const fs::path& path);
    void checkModuleList(const fs::path& path);
    void checkModule(const fs::path& list, const ModuleEntry& e, const std::u16string& sha,
                     const std::u16string& zipSha);
    // The file a URL of a document points at, with its expected digests; false after a
    // problem was reported.
    bool checkFile(const fs::path& from, const std::string& what, const fs::path& file, const std::string& md5,
                   const std::string& sha256, const std::string& size = {}, const std::string& crc = {});

    fs::path m_root;
    const app::minisign::PublicKey* m_key;
    SignatureCheck m_check;
    std::vector<fs::path> m_earlier;
    std::vector<std::string> m_problems;
    std::vector<std::string> m_expiring;  // notes, not problems
    int m_documents = 0, m_files = 0, m_signatures = 0;
};

bool TreeCheck::readDocument(const fs::path& path, std::string& bytes) {
    if (!readBytes(path, bytes)) {
        problem(path, "cannot be read");
        return false;
    }
    ++m_documents;
    std::string why;
    uint64_t timestamp = 0;
    fs::path signature = path;
    signature += ".minisig";
    if (!fs::exists(signature)) {
        if (m_key) problem(path, "no signature (" + utf8(signature.filename()) + ")");
    } else if (!checkSignature(bytes, pathInTree(m_root, path), signature, m_check, why, timestamp)) {
        problem(signature, why);
    } else if (m_key) {
        ++m_signatures;
        noteExpiry(path, timestamp);
    }
    return true;
}

void TreeCheck::noteExpiry(const fs::path& path, uint64_t timestamp) {
    if (m_check.maxAgeDays <= 0) return;
    uint64_t expires = timestamp + static_cast<uint64_t>(m_check.maxAgeDays) * app::signing::kSecondsPerDay;
    if (expires - m_check.now > kExpiryNoticeSeconds) return;
    uint64_t hours = (expires - m_check.now) / 3600;
    m_expiring.push_back(shown(m_root, path) + ": signature expires in " + std::to_string(hours / 24) + " days " +
                         std::to_string(hours % 24) + " hours (signed at " + std::to_string(timestamp) +
                         ", max age " + std::to_string(m_check.maxAgeDays) + " days); sign it again");
}

bool TreeCheck::checkFile(const fs::path& from, const std::string& what, const fs::path& file,
                          const std::string& md5, const std::string& sha256, const std::string& size,
                          const std::string& crc) {
    std::string bytes;
    if (file.empty() || !fs::is_regular_file(file)) {
        problem(from, what + " names " +
                          (file.empty() ? "no file of this tree" : shown(m_root, file) + ", which is missing"));
        return false;
    }
    if (!readBytes(file, bytes)) {
        problem(file, "cannot be read");
        return false;
    }
    ++m_files;
    // A file that is not the one named differs in every digest: its md5 alone says so.
    Digests d = digestsOf(bytes);
    size_t before = m_problems.size();
    if (!equalsNoCase(d.md5, md5)) problem(file, "md5 is " + d.md5 + ", " + what + " says " + md5);
    else if (!sha256.empty() && !equalsNoCase(d.sha256, sha256))
        problem(file, "sha256 is " + d.sha256 + ", " + what + " says " + sha256);
    else if (!size.empty() && size != std::to_string(d.size))
        problem(file, "size is " + std::to_string(d.size) + ", " + what + " says " + size);
    else if (!crc.empty() && !equalsNoCase(d.crc32, crc))
        problem(file, "crc32 is " + d.crc32 + ", " + what + " says " + crc);
    return m_problems.size() == before;
}

void TreeCheck::checkUpdateDocument(const fs::path& path) {
    std::string bytes;
    std::vector<decision::DocumentItem> items;
    if (!readDocument(path, bytes)) return;
    if (!decision::parseUpdateDocument(decision::cleanDocumentBody(bytes), items))
        return problem(path, "does not parse as an update-information document");
    for (const decision::DocumentItem& item : items) {
        if (item.kind != decision::DocumentItem::Kind::Update) continue;
        const decision::UpdateRecord& u = item.update;
        std::string name = text::toUtf8(u.name), what = "update " + name;
        if (!u.enable) continue;  // never taken: nothing it names is fetched
        if (!app::isPlainFileName(u.name)) problem(path, what + ": name is not a plain file name");
        if (item.files.empty()) problem(path, what + ": has no file child, so no machine takes it");
        if (m_key && !app::isSha256Text(u.sha256)) problem(path, what + kNoSha256);
        std::u16string link =
            !u.httplinkfull.empty() ? u.httplinkfull : (u.httplink.empty() ? u"" : kAnyHost + u.httplink);
        if (link.empty()) problem(path, what + ": has neither httplinkfull nor httplink");
        else
            checkFile(path, what, servedFile(m_root, link), text::toUtf8(u.md5), text::toUtf8(u.sha256),
                      text::toUtf8(u.filesize), text::toUtf8(u.crc32));
    }
}

void TreeCheck::checkOffer(const fs::path& path) {
    std::string bytes;
    channel::Offer offer;
    if (!readDocument(path, bytes)) return;
    if (!channel::readOffer(text::fromUtf8(bytes), offer))
        return problem(path, "does not parse as an offer (update/exeupdate with a plain filename)");
    if (m_key && !channel::readOffer(text::fromUtf8(bytes), offer, true))
        problem(path, "exeupdate" + std::string(kNoSha256));
    if (offer.version.empty() || offer.md5.empty() || offer.verinfo.empty() || offer.filename.empty())
        problem(path, "exeupdate needs version, md5, verinfo and filename, or the player gets no offer");
    checkFile(path, "exeupdate url", servedFile(m_root, offer.setupUrl), text::toUtf8(offer.md5),
              text::toUtf8(offer.sha256));
}

void TreeCheck::checkConfig(const fs::path& path) {
    std::string bytes;
    std::vector<UpdateNode> nodes;
    if (!readDocument(path, bytes)) return;
    if (!readUpdateConfig(bytes, nodes))
        return problem(path, "does not parse as an update configuration (root/updates)");
    for (const UpdateNode& node : nodes) {
        fs::path list = servedFile(m_root, node.sourceDir + u"/" + text::fromUtf8(kModuleList));
        if (list.empty() || !fs::is_regular_file(list))
            problem(path, "up sdir " + text::toUtf8(node.sourceDir) + " has no " + kModuleList + " in this tree");
    }
}

void TreeCheck::checkModuleList(const fs::path& path) {
    std::string bytes;
    if (!readDocument(path, bytes)) return;
    fs::path folder = path.parent_path();
    std::u16string base = agentPath(folder);
    std::u16string source = kAnyHost + text::fromUtf8(shown(m_root, folder));
    ModuleUpdater reader;
    reader.setPlayerFolder(base);
    std::vector<ModuleEntry> entries;
    if (!reader.ParseUpdateModuleList(source, base, bytes, base + u"\\bin", entries))
        return problem(path,
                       "does not parse as a module list (File needs a name inside the folder, md5 and zipmd5)");
    std::vector<std::u16string> sha = attributeOfEach(bytes, u"File", u"sha256");
    std::vector<std::u16string> zipSha = attributeOfEach(bytes, u"File", u"zipsha256");
    for (size_t i = 0; i < entries.size(); ++i) {
        std::u16string fileSha = i < sha.size() ? sha[i] : u"", archiveSha = i < zipSha.size() ? zipSha[i] : u"";
        if (m_key && (!app::isSha256Text(fileSha) || !app::isSha256Text(archiveSha)))
            problem(path, "list entry " + text::toUtf8(entries[i].name) +
                              " has no sha256 and zipsha256 of 64 hex digits (a signed deployment refuses it)");
        checkModule(path, entries[i], fileSha, archiveSha);
    }
    checkPatches(PatchCheck{m_root, m_earlier, m_key != nullptr}, path, bytes, entries, source, m_problems, m_files);
}

void TreeCheck::checkModule(const fs::path& list, const ModuleEntry& e, const std::u16string& sha,
                            const std::u16string& zipSha) {
    std::string what = "list entry " + text::toUtf8(e.name);
    // The agent compares module digests exactly, letter case included.
    for (const std::u16string& digest : {e.md5, e.zipMd5})
        if (text::toLower(digest) != digest)
            problem(list, what + ": digest " + text::toUtf8(digest) +
                              " must be lower-case, as the agent compares it exactly");
    fs::path archive = servedFile(m_root, e.archiveUrl);
    if (!checkFile(list, what, archive, text::toUtf8(e.zipMd5), text::toUtf8(zipSha))) return;
    std::string name, bytes;
    if (!unpackOne(archive, name, bytes))
        return problem(archive, "does not unpack as an archive of exactly one file");
    std::u16string expected = e.name.substr(e.name.find_last_of(u'\\') + 1);
    if (text::fromUtf8(name) != expected)
        return problem(archive, "holds " + name + ", not " + text::toUtf8(expected));
    Digests d = digestsOf(bytes);
    if (d.md5 != text::toUtf8(e.md5))
        problem(archive, "unpacks to md5 " + d.md5 + ", the list says " + text::toUtf8(e.md5));
    if (!sha.empty() && !equalsNoCase(d.sha256, text::toUtf8(sha)))
        problem(archive, "unpacks to sha256 " + d.sha256 + ", the list says " + text::toUtf8(sha));
}

void TreeCheck::run() {
    fs::path product = m_root / "product" / "OvUpdate";
    for (const char* name : kUpdateDocuments)
        if (fs::exists(product / name)) checkUpdateDocument(product / name);
    for (const char* name : kOffers)
        if (fs::exists(product / name)) checkOffer(product / name);
    if (fs::exists(product / kConfig)) checkConfig(product / kConfig);
    for (const auto& entry : fs::recursive_directory_iterator(m_root)) {
        fs::path p = entry.path();
        if (entry.is_regular_file() && p.filename() == kModuleList) checkModuleList(p);
        if (p.extension() == ".minisig" && !fs::exists(fs::path(p).replace_extension()))
            problem(p, "signs " + utf8(p.stem()) + ", which is missing");
    }
    if (m_documents == 0) problem(m_root, "no document (product/OvUpdate/*.xml or a module list update.xml)");
}

int TreeCheck::report() const {
    for (const std::string& line : m_problems) std::printf("%s\n", line.c_str());
    for (const std::string& line : m_expiring) std::printf("%s\n", line.c_str());
    if (!m_problems.empty()) return 1;
    std::string signatures = m_key ? std::to_string(m_signatures) + " signatures verified"
                                   : "signatures not checked against a key (no --pubkey)";
    std::printf("%s: %d documents and %d files check out, %s\n", utf8(m_root).c_str(), m_documents, m_files,
                signatures.c_str());
    return 0;
}

}  // namespace

int verifyCommand(int argc, char** argv) {
    Options o;
    std::string error;
    if (!parseOptions(argc, argv, {{"--pubkey", "--max-age-days", "--delta-from"}, {}}, o, error)) return fail(error);
    if (o.has("--help")) return std::fputs(kHelp, stdout), 0;
    if (o.positional.size() != 1) return fail("verify needs ROOT (see --help)");
    app::minisign::PublicKey key;
    if (o.has("--pubkey") && !loadPublicKey(fromUtf8Path(o.value("--pubkey")), key, error)) return fail(error);
    SignatureCheck signatures;
    signatures.key = o.has("--pubkey") ? &key : nullptr;
    signatures.now = static_cast<uint64_t>(std::time(nullptr));
    if (o.has("--max-age-days")) {
        std::string days = o.value("--max-age-days");
        signatures.maxAgeDays = std::atoi(days.c_str());
        if (signatures.maxAgeDays <= 0 || days.find_first_not_of("0123456789") != std::string::npos)
            return fail("--max-age-days needs a positive number of days");
    }
    fs::path root = fromUtf8Path(o.positional[0]);
    if (!fs::is_directory(root)) return fail(utf8(root) + ": not a folder");
    std::vector<fs::path> earlier;
    for (const std::string& folder : o.all("--delta-from")) earlier.push_back(fromUtf8Path(folder));
    TreeCheck check(root, signatures, earlier);
    check.run();
    return check.report();
}

}  // namespace publish
