// Stand-in of the engine's download proxy (NimboProxy.dll). The agent only checks that the
// file is there and hands its path to the engine; the stand-in engine downloads directly,
// so the proxy offers nothing but its version.
#ifdef _WIN32
#define PROXY_EXPORT extern "C" __declspec(dllexport)
#else
#define PROXY_EXPORT extern "C" __attribute__((visibility("default")))
#endif

PROXY_EXPORT int NimboProxyVersion() { return 1; }
