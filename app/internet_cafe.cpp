#include "app/internet_cafe.h"

#include "app/settings.h"
#include "platform/profile.h"
#include "platform/system.h"

namespace app {

bool isInternetCafeEdition() {
    // The edition's settings moved from the Windows folder to roaming application data
    // after Windows XP.
    std::u16string folder =
        plat::osMajorVersion() > 5 ? plat::appDataFolder() + u"\\Lumora Video\\Brisa" : plat::windowsFolder();
    std::u16string file = folder + u"\\" + app::settings::kKavoIni;
    return plat::getProfileInt(app::settings::kSectionMain, app::settings::kKeyBm, 0, file) == 1;
}

}  // namespace app
