// The small file operations the module update shares: download to a file, digest check,
// delete-and-verify and creation of a directory chain.
#include <algorithm>

#include "app/deploy_settings.h"
#include "app/digest_check.h"
#include "app/signed_document.h"
#include "app/streamed_digest.h"
#include "fetch/signed_fetch.h"
#include "fetch/transfer.h"
#include "modules/module_updater.h"
#include "platform/files.h"
#include "text/text.h"

namespace modules {

bool ModuleUpdater::DownloadFile(const std::u16string& url, const std::u16string& path, fetch::ModuleBody kind,
                                 uint64_t maxBytes) {
    // The body streams into the file whatever the outcome; a later digest check decides
    // whether it is whole. A write that fails (a full disk) fails the download.
    auto file = plat::openFile(path, plat::OpenMode::WriteTruncate);
    if (!file) {
        log(u"download file %s to file %s %s", url, path, app::diag::outcome(false));
        return false;
    }
    // The body is digested as it is written, so the archive check that follows need not
    // read the file back.
    app::DigestingFile digesting(*file, app::signing::required());
    fetch::TransferRequest request;
    request.url = url;
    request.policy = fetch::moduleGetPolicy(kind);
    if (maxBytes) request.policy.maxFileBody = std::min<uint64_t>(request.policy.maxFileBody, maxBytes);
    if (kind == fetch::ModuleBody::Archive)
        request.policy.maxReceiveBytesPerSecond = app::deploy::servers().maxReceiveBytesPerSecond;
    request.sinkFile = &digesting;
    fetch::TransferResult result = fetch::performTransfer(request);
    bool ok = result.ok() && result.bytes > 0;
    if (ok) app::rememberDigestsOf(*file, digesting.pass());
    file.reset();
    // What a cut or endless body left is nobody's file.
    if (!ok) plat::deleteFile(path);
    log(u"download file %s to file %s %s", url, path, app::diag::outcome(ok));
    return ok;
}

app::DigestFinding moduleDigests(const std::u16string& path, const std::u16string& md5, const std::u16string& sha256) {
    return app::checkDigests(path, app::DigestCheck{md5, sha256, plat::OpenMode::ReadExclusive, app::Md5Case::Exact});
}

bool ModuleUpdater::CompareFileDigests(const std::u16string& path, const std::u16string& md5,
                                       const std::u16string& sha256) {
    app::DigestFinding found = moduleDigests(path, md5, sha256);
    log(u"compare %s file md5 %s with md5 %s %s", path, found.md5, md5, app::diag::outcome(found.md5Equal));
    if (!sha256.empty())
        log(u"compare %s file sha256 %s with sha256 %s %s", path, found.sha256, sha256,
            app::diag::outcome(found.sha256Equal));
    return found.matches();
}

bool ModuleUpdater::DocumentAccepted(const std::u16string& url, const std::string& body) {
    std::u16string reason = fetch::signatureRefusal(url, body, fetch::moduleGetPolicy(fetch::ModuleBody::Document));
    if (reason.empty()) return true;
    log(u"%s", app::signing::refusalLine(url, reason));
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
    log(u"DeleteAndCheck %s %s\r\n", path, app::diag::outcome(ok));
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
    log(u"CreateMultiDirectory %s %s\r\n", path, app::diag::outcome(ok));
    return ok;
}

}  // namespace modules
