// The small file operations the module update shares: download to a file, digest check,
// delete-and-verify and creation of a directory chain.
#include "app/md5.h"
#include "app/md5_and_sha256.h"
#include "app/signed_document.h"
#include "app/streamed_digest.h"
#include "fetch/signed_fetch.h"
#include "fetch/transfer.h"
#include "modules/module_updater.h"
#include "platform/files.h"
#include "platform/text.h"

namespace modules {

bool ModuleUpdater::DownloadFile(const std::u16string& url, const std::u16string& path, fetch::ModuleBody kind) {
    // The body streams into the file whatever the outcome; a later digest check decides
    // whether it is whole. A write that fails (a full disk) fails the download.
    auto file = plat::openFile(path, plat::OpenMode::WriteTruncate);
    if (!file) {
        log(u"download file %s to file %s %s", url, path, diag::outcome(false));
        return false;
    }
    // The body is digested as it is written, so the archive check that follows need not
    // read the file back.
    DigestingFile digesting(*file, signing::required());
    fetch::TransferRequest request;
    request.url = url;
    request.policy = fetch::moduleGetPolicy(kind);
    request.sinkFile = &digesting;
    fetch::TransferResult result = fetch::performTransfer(request);
    bool ok = result.ok() && result.bytes > 0;
    if (ok) rememberDigestsOf(*file, digesting.pass());
    file.reset();
    log(u"download file %s to file %s %s", url, path, diag::outcome(ok));
    return ok;
}

bool ModuleUpdater::CompareFileMd5(const std::u16string& path, const std::u16string& expected) {
    std::u16string digest = text::fromAnsi(md5OfFile(path));
    bool equal = digest == expected;
    log(u"compare %s file md5 %s with md5 %s %s", path, digest, expected, diag::outcome(equal));
    return equal;
}

bool ModuleUpdater::CompareFileDigests(const std::u16string& path, const std::u16string& md5,
                                       const std::u16string& sha256) {
    if (sha256.empty()) return CompareFileMd5(path, md5);
    FileDigests both = fileDigests(path, plat::OpenMode::ReadExclusive);
    bool read = both.bytesRead > 0;
    std::u16string md5Digest = read ? text::fromAnsi(both.md5) : std::u16string();
    std::u16string shaDigest = read ? text::fromAnsi(both.sha256) : std::u16string();
    bool md5Equal = md5Digest == md5;
    bool shaEqual = read && sha256Matches(both.sha256, sha256);
    log(u"compare %s file md5 %s with md5 %s %s", path, md5Digest, md5, diag::outcome(md5Equal));
    log(u"compare %s file sha256 %s with sha256 %s %s", path, shaDigest, sha256, diag::outcome(shaEqual));
    return md5Equal && shaEqual;
}

bool ModuleUpdater::DocumentAccepted(const std::u16string& url, const std::string& body) {
    std::u16string reason = fetch::signatureRefusal(url, body, fetch::moduleGetPolicy(fetch::ModuleBody::Document));
    if (reason.empty()) return true;
    log(u"%s", signing::refusalLine(url, reason));
    return false;
}

bool ModuleUpdater::DeleteAndCheck(const std::u16string& path, bool folderToo) {
    uint32_t attributes = 0;
    bool ok = true;  // nothing there: nothing to delete and nothing to look at again
    if (plat::fileAttributes(path, attributes)) {
        if (folderToo && (attributes & plat::kAttributeDirectory)) DeleteDirectoryTree(path);
        else plat::deleteFile(path);
        ok = !plat::fileAttributes(path, attributes);
    }
    log(u"DeleteAndCheck %s %s\r\n", path, diag::outcome(ok));
    return ok;
}

bool ModuleUpdater::CreateMultiDirectory(const std::u16string& path) {
    std::u16string full = path;
    if (full.empty() || full.back() != u'\\') full += u'\\';
    bool ok = true;
    for (size_t end = full.find(u'\\'); end != std::u16string::npos; end = full.find(u'\\', end + 1)) {
        // The prefix without its closing "\" (a root keeps it), so that a file in the way
        // is seen as a file.
        std::u16string prefix = full.substr(0, end);
        if (prefix.empty() || prefix.back() == u':') prefix += u'\\';
        uint32_t attributes = 0;
        bool exists = plat::fileAttributes(prefix, attributes);
        if (exists && !(attributes & plat::kAttributeDirectory)) {
            // A file standing where a folder belongs is removed.
            plat::setFileAttributes(prefix, plat::kAttributeNormal);
            plat::deleteFile(prefix);
            exists = plat::fileAttributes(prefix, attributes);
        }
        if (exists) continue;  // a folder that was there keeps its attributes (C:\, Program Files)
        if (!plat::createDirectory(prefix)) {
            ok = false;
            break;
        }
        plat::setFileAttributes(prefix, plat::kAttributeNormal);
    }
    log(u"CreateMultiDirectory %s %s\r\n", path, diag::outcome(ok));
    return ok;
}

}  // namespace modules
