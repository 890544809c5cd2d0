// The plain HTTP GET of the module update (upcfg.xml, update.xml and module archives).
// It sends only "Host" (the host name, never a port) and the fixed "User-Agent", follows
// 301, 302 and 303 itself, and holds the whole body in memory.
#pragma once
#include <cstddef>
#include <string>

struct ModuleHttpReply {
    bool ok = false;   // the exchange ended with 200 to 206, 304 or 305
    long status = 0;   // status of the last answer (0 when none came)
    std::string body;  // body of the last answer, as far as it arrived
};

ModuleHttpReply moduleHttpGet(const std::u16string& url);

// Bounds of one GET. Process-wide; tests shrink them.
struct ModuleHttpLimits {
    long timeoutMs = 10000;            // connecting, and each wait for the socket
    int maxRedirects = 10;             // a longer chain of redirects fails
    size_t maxBodyBytes = 256u << 20;  // far above any module; a larger body fails
};
ModuleHttpLimits& moduleHttpLimits();
