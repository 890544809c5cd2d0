// What the system knows of the price of the link the machine is on now.
#pragma once

namespace plat {

enum class NetworkCost {
    Unrestricted,  // also where the cost cannot be read
    Metered,       // the user pays by the amount, or is near or over a data limit
    Roaming,       // outside the provider's own network
};

NetworkCost networkCost();

}  // namespace plat
