#include "standins/prism/journal.h"

#include <fstream>
#include <mutex>

#include "platform/system.h"
#include "text/text.h"

namespace prism {

void journal(const std::string& line) {
    static std::mutex mutex;  // the download thread writes too
    std::string path = text::toAnsi(plat::environmentVariable(u"PRISM_STANDIN_JOURNAL"));
    if (path.empty()) return;
    std::lock_guard<std::mutex> lock(mutex);
    std::ofstream(path, std::ios::binary | std::ios::app) << line << '\n';
}

bool shouldFail(const char* step) {
    return plat::environmentVariable(u"PRISM_STANDIN_FAIL") == text::fromUtf8(step);
}

}  // namespace prism
