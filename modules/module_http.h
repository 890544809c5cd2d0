// The GET of the module update (upcfg.xml, update.xml and module archives), over http or
// https (peer and host name verified, as every transfer of the agent). It sends only
// "Host" (the host name, never a port) and the fixed "User-Agent", follows 301, 302 and
// 303 itself, and holds the whole body in memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {
class File;
}

struct ModuleHttpReply {
    bool ok = false;           // the exchange ended with 200 to 206, 304 or 305
    long status = 0;           // status of the last answer (0 when none came)
    std::string body;          // body of the last answer, as far as it arrived (not when streamed)
    uint64_t bodyBytes = 0;    // size of the last answer's body
    bool writeFailed = false;  // a streamed body could not be written
};

// A document (the configuration, a module list) is small and bounded in time as a whole;
// an archive may take as long as it keeps moving at a useful rate.
enum class ModuleBody { Document, Archive };

// With a file, the final answer's body is streamed to it instead of kept in memory.
ModuleHttpReply moduleHttpGet(const std::u16string& url, ModuleBody kind = ModuleBody::Archive,
                              plat::File* file = nullptr);

// Bounds of one GET; a GET past any of them fails. Process-wide; tests shrink them.
struct ModuleHttpLimits {
    long timeoutMs = 10000;  // connecting, and the longest silence on the socket
    // An average below this rate over the window: a trickle is as good as silence.
    long lowSpeedBytesPerSecond = 1024;
    long lowSpeedWindowSeconds = 30;
    long documentTotalMs = 60000;         // the whole of a document's GET
    int maxRedirects = 10;                // a longer chain of redirects fails
    size_t maxDocumentBytes = 16u << 20;  // far above any configuration or module list
    size_t maxBodyBytes = 256u << 20;     // far above any module archive
    // Certificates https peers are verified against instead of the system's (a test's own
    // authority); empty: the system's.
    std::string caFile;
};
ModuleHttpLimits& moduleHttpLimits();
