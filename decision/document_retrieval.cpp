// Obtaining the update-information document: from the servers with the retry schedule,
// or from a local file in debug mode; then cleaning, parsing and the rule walk.
#include <rapidxml/rapidxml.hpp>

#include <vector>

#include "app/host_probes.h"
#include "app/log.h"
#include "decision/update_driver.h"
#include "fetch/transfer.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

// Waits before each retry pass over all domains once the first pass has failed.
constexpr uint32_t kRetryWaitsMs[] = {60000, 300000, 600000};
constexpr char16_t kPrintLogCopy[] = u"OvUpdatePrintLog.xml";
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

}  // namespace

std::string cleanDocumentBody(const std::string& body) {
    if (body.size() <= 4) return body;
    std::string copy = body.compare(0, 3, kByteOrderMark) == 0 ? body.substr(3) : body;
    size_t last = copy.rfind('>');
    copy.resize(last == std::string::npos ? 0 : last + 1);
    return copy;
}

bool UpdateDriver::tryDocumentDomains(const std::u16string& serverPath) {
    for (const std::u16string& domain : m_documentDomains) {
        TransferRequest request;
        request.url = domain + u"/" + serverPath;
        bool ok = performTransfer(request);
        LOG(u"下载xml url = %s, 下载%s", request.url, ok ? u"成功" : u"失败");
        if (ok) {
            m_documentBody = std::move(request.responseBody);
            return true;
        }
    }
    return false;
}

bool UpdateDriver::fetchUpdateDocument(const std::u16string& serverPath) {
    if (tryDocumentDomains(serverPath)) return true;
    LOG(u"由于下载xml失败，现在开始重试...");
    for (uint32_t waitMs : kRetryWaitsMs) {
        plat::clock().sleepMs(waitMs);
        if (tryDocumentDomains(serverPath)) return true;
    }
    return false;
}

void UpdateDriver::processDownloadedDocument() {
    if (m_documentBody.empty()) {
        finishUpdateRun(kRunNoDocument, false);
        return;
    }
    std::string copy = cleanDocumentBody(m_documentBody);
    // Best effort: a copy that cannot be written never stops the run.
    if (diag::loggingOn()) plat::writeWholeFile(kPrintLogCopy, copy);
    parseAndEvaluate(copy);
}

void UpdateDriver::processLocalDocument(const std::string& narrowPath) {
    std::u16string path = text::fromAnsi(narrowPath);
    std::string content;
    // A file that is missing or cannot be read leaves nothing to do.
    if (narrowPath.empty() || !fileExists(path) || !plat::readWholeFile(path, content)) {
        finishUpdateRun(kRunNothingToDo, false);
        return;
    }
    parseAndEvaluate(content);
}

void UpdateDriver::parseAndEvaluate(const std::string& text) {
    // The parser works in place and keeps pointers into the buffer while the walk runs.
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    rapidxml::xml_document<char> document;
    try {
        document.parse<0>(buffer.data());
    } catch (...) {
        finishUpdateRun(kRunNoUpdate, false);
        return;
    }
    evaluateUpdateDocument(document);
}
