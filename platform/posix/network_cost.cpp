// The stand-in host's link cost: OVUPDATE_NETWORK_COST=unrestricted|metered|roaming.
#include "platform/network_cost.h"

#include <cstdlib>
#include <cstring>

namespace plat {

NetworkCost networkCost() {
    const char* cost = std::getenv("OVUPDATE_NETWORK_COST");
    if (cost && std::strcmp(cost, "metered") == 0) return NetworkCost::Metered;
    if (cost && std::strcmp(cost, "roaming") == 0) return NetworkCost::Roaming;
    return NetworkCost::Unrestricted;
}

}  // namespace plat
