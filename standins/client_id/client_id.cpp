// Stand-in of the maker's client-identifier library: a stable lower-case identifier of
// this machine, a hash of its machine id (or, without one, of its host name), so the
// machine id itself is never handed out.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/client_id.h"

#ifdef _WIN32
#include <cstdlib>
#define CLIENT_ID_EXPORT extern "C" __declspec(dllexport)
#else
#include <unistd.h>
#define CLIENT_ID_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::string machineSeed() {
#ifdef _WIN32
    const char* name = std::getenv("COMPUTERNAME");
    return name ? name : "";
#else
    std::ifstream in("/etc/machine-id");
    std::string id;
    if (in && std::getline(in, id) && !id.empty()) return id;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) return host;
    return {};
#endif
}

// 64-bit FNV-1a, salted so the identifier is this library's own.
uint64_t fnv1a(const std::string& data, uint64_t hash) {
    for (char byte : data) {
        auto c = static_cast<unsigned char>(byte);
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

}  // namespace

CLIENT_ID_EXPORT int GetClientID(char16_t* buffer, unsigned char* flag) {
    if (!buffer) return 0;
    std::string seed = "ovupdate-client-id:" + machineSeed();
    char hex[33];
    std::snprintf(hex, sizeof hex, "%016llx%016llx",
                  static_cast<unsigned long long>(fnv1a(seed, 0xcbf29ce484222325ULL)),
                  static_cast<unsigned long long>(fnv1a(seed, 0x84222325cbf29ce4ULL)));
    for (size_t i = 0; i < sizeof hex; ++i) buffer[i] = static_cast<char16_t>(hex[i]);
    if (flag) *flag = 1;
    return 1;
}
