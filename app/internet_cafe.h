// The internet-cafe edition of the player takes no background update.
#pragma once

namespace app {

// True iff bm = 1 in section main of the edition's Kavo.ini.
bool isInternetCafeEdition();

}  // namespace app
