// The stand-in engine's download: one HTTP GET of the package link into a file.
#pragma once
#include <atomic>
#include <string>

namespace prism {

// Downloads url to savePath (an agent path, "\" separated). The body goes to a file beside
// the target first and replaces it only after a complete 200 answer. Returns 0 on success,
// else the HTTP status or a negative libcurl code. Gives up soon after cancel is set.
long httpGet(const std::string& url, const std::u16string& savePath, const std::atomic<bool>& cancel);

}  // namespace prism
