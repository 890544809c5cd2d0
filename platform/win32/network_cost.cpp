// The link cost as the Network List Manager reports it for the machine's connections.
#include <windows.h>

#include <netlistmgr.h>

#include <cstdlib>
#include <cstring>

#include "platform/network_cost.h"

namespace plat {
namespace {

NetworkCost fromListManager() {
    NetworkCost result = NetworkCost::Unrestricted;
    HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    INetworkCostManager* manager = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL, IID_INetworkCostManager,
                                   reinterpret_cast<void**>(&manager)))) {
        DWORD cost = 0;
        if (SUCCEEDED(manager->GetCost(&cost, nullptr))) {
            if (cost & NLM_CONNECTION_COST_ROAMING) result = NetworkCost::Roaming;
            else if (cost & (NLM_CONNECTION_COST_FIXED | NLM_CONNECTION_COST_VARIABLE |
                             NLM_CONNECTION_COST_OVERDATALIMIT))
                result = NetworkCost::Metered;
        }
        manager->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return result;
}

}  // namespace

NetworkCost networkCost() {
#ifdef OV_TEST_HOOKS
    // Test builds may be told the cost, as the stand-in host is, since no test can make
    // the machine's link metered.
    if (const char* cost = std::getenv("OVUPDATE_NETWORK_COST")) {
        if (std::strcmp(cost, "metered") == 0) return NetworkCost::Metered;
        if (std::strcmp(cost, "roaming") == 0) return NetworkCost::Roaming;
        if (std::strcmp(cost, "unrestricted") == 0) return NetworkCost::Unrestricted;
    }
#endif
    return fromListManager();
}

}  // namespace plat
