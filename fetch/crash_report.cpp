// Delivery of the player's crash files to the collection endpoint at the start of every
// background run. A file is deleted, and its announcement cleared, only when the endpoint
// answers exactly "success"; anything else leaves it for the next run.
#include <memory>

#include "app/host_probes.h"
#include "app/log.h"
#include "app/settings.h"
#include "fetch/crash_report.h"
#include "fetch/transfer.h"
#include "platform/files.h"
#include "text/text.h"

namespace fetch {
namespace {

constexpr char16_t kErrorFile[] = u"qserr.dat";
constexpr char16_t kEndpointPath[] = u"/p";
constexpr char kAccepted[] = "success";
constexpr char kErrorFileUploadName[] = "optional_data";

bool insideFolder(const std::u16string& path, const std::u16string& folder) {
    std::u16string inside = text::toUpper(plat::canonicalPath(path));
    std::u16string root = text::toUpper(plat::canonicalPath(folder)) + u"\\";
    return inside.size() > root.size() && inside.compare(0, root.size(), root) == 0;
}

void fillForm(TransferRequest& request, const CrashDelivery& d) {
    bool errorFile = !d.dump && !d.log;
    auto& f = request.formFields;
    f[u"t"] = u"11";
    f[u"ct"] = errorFile ? u"141212_crash" : u"151215_clientdump";
    f[u"pf"] = u"201";
    f[u"p"] = u"11";
    f[u"p1"] = errorFile ? u"114" : u"1101";
    f[u"u"] = d.clientId;
    f[u"pu"] = u"";
    if (!errorFile) f[u"addr"] = d.dumpDirectory;
    request.uploadBufferName = errorFile ? kErrorFileUploadName : text::toUtf8(d.fileName);
}

}  // namespace

void deliverCrashReports(const std::u16string& clientId, const std::u16string& endpoint) {
    using namespace app::settings;

    // What every delivery shares; each one below names its file and kind.
    CrashDelivery sent;
    sent.clientId = clientId;
    sent.endpoint = endpoint;

    CrashDelivery errorFile = sent;
    errorFile.fileName = kErrorFile;
    deliverFile(errorFile);

    std::u16string dumpPath = readString(kSectionCrashReport, kKeyDumpPath, u"", kDumpPathChars, kOrvixIni);
    std::u16string dumpZip = readString(kSectionCrashReport, kKeyDumpZipPathName, u"", kZipPathChars, kOrvixIni);
    sent.dumpDirectory = dumpPath;
    if (!dumpPath.empty() && !dumpZip.empty()) {
        CrashDelivery dump = sent;
        dump.fileName = dumpZip;
        dump.dump = true;
        deliverFile(dump);
    }
    std::u16string logZip = readString(kSectionCrashReport, kKeyLogZipPathName, u"", kZipPathChars, kOrvixIni);
    if (!logZip.empty()) {
        CrashDelivery log = sent;
        log.fileName = logZip;
        log.log = true;
        deliverFile(log);
    }
}

void deliverFile(const CrashDelivery& d) {
    using namespace app::settings;
    if (d.fileName.empty()) return;
    std::u16string path = dataFolder() + u"\\" + d.fileName;
    // The names come from a settings file anyone may edit: a name that leads out of the
    // data folder never gets a file of elsewhere posted, and then deleted.
    if (!insideFolder(path, dataFolder())) {
        LOG(u"file %s lies outside the data folder, not delivered", path);
        return;
    }
    if (!app::fileExists(path)) {
        LOG(u"文件：%s不存在，不进行投递", path);
        return;
    }
    // Held without sharing while it is sent, and streamed: a crash file may be large.
    std::unique_ptr<plat::File> file = plat::openFile(path, plat::OpenMode::ReadExclusive);
    uint64_t size = 0;
    if (!file || !file->size(size) || size == 0) return;
    TransferRequest request;
    request.uploadFile = file.get();
    request.uploadFileBytes = size;
    request.url = d.endpoint + kEndpointPath;
    fillForm(request, d);
    // Only the answer's body counts, not the transfer's result.
    performTransfer(request);
    file.reset();
    if (request.responseBody != kAccepted) return;

    plat::deleteFile(path);
    if (d.dump) writeString(kSectionCrashReport, kKeyDumpZipPathName, u"", kOrvixIni);
    if (d.log) {
        writeString(kSectionCrashReport, kKeyLogZipPathName, u"", kOrvixIni);
        writeString(kSectionCrashReport, kKeyDumpPath, u"", kOrvixIni);
    }
}

}  // namespace fetch
