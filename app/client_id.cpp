#include "app/client_id.h"

#include "app/host_probes.h"
#include "app/log.h"
#include "app/settings.h"
#include "platform/library.h"
#include "text/text.h"

namespace app {

namespace {

std::u16string identifierFromLibrary() {
    std::u16string folder = playerFolderWithoutSlash();
    std::u16string library = folder + u"\\CID.dll";
    if (!fileExists(library)) library = folder + u"\\ClientID.dll";
    plat::UniqueLibrary handle(plat::loadLibrary(library));
    if (!handle) return {};
    std::u16string identifier;
    auto getClientId =
        reinterpret_cast<GetClientIdFunction>(plat::librarySymbol(handle.get(), kGetClientIdExport));
    if (getClientId) {
        char16_t buffer[kClientIdBufferChars] = {};
        unsigned char flag = 0;
        getClientId(buffer, &flag);
        buffer[kClientIdBufferChars - 1] = 0;  // the library's text is not trusted to end
        identifier = text::toLower(buffer);
    }
    return identifier;
}

}  // namespace

std::u16string clientIdentifier(std::u16string& cached) {
    if (!cached.empty()) return cached;
    cached = app::settings::readString(app::settings::kSectionDevice, app::settings::kKeyClientIdForTest, u"",
                                  app::settings::kClientIdForTestChars, app::settings::kTestingIni);
    LOG(u"判断是否使用Testing.ini中的ID: %s", cached);
    if (cached.empty()) cached = identifierFromLibrary();
    return cached;
}

}  // namespace app
