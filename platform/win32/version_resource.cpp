#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/version_resource.h"
#include "platform/win32/wide.h"

namespace plat {

namespace {

std::u16string stringValue(const std::vector<char>& data, const wchar_t* block, const wchar_t* name) {
    wchar_t query[128];
    swprintf(query, 128, L"%ls\\%ls", block, name);
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), query, &value, &length) || !value || length == 0) return {};
    return win32::fromWide(static_cast<const wchar_t*>(value));
}

}  // namespace

bool readVersionResource(const std::u16string& path, VersionResource& out) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(win32::wide(path), &handle);
    if (size == 0) return false;
    std::vector<char> data(size);
    if (!GetFileVersionInfoW(win32::wide(path), 0, size, data.data())) return false;

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
        return false;
    out = VersionResource{};
    out.fileVersion[0] = HIWORD(fixed->dwFileVersionMS);
    out.fileVersion[1] = LOWORD(fixed->dwFileVersionMS);
    out.fileVersion[2] = HIWORD(fixed->dwFileVersionLS);
    out.fileVersion[3] = LOWORD(fixed->dwFileVersionLS);
    out.productVersion[0] = HIWORD(fixed->dwProductVersionMS);
    out.productVersion[1] = LOWORD(fixed->dwProductVersionMS);
    out.productVersion[2] = HIWORD(fixed->dwProductVersionLS);
    out.productVersion[3] = LOWORD(fixed->dwProductVersionLS);
    out.fileFlags = fixed->dwFileFlags;
    out.fileOS = fixed->dwFileOS;
    out.fileType = fixed->dwFileType;
    out.fileSubtype = fixed->dwFileSubtype;

    // The strings of the first language and code page the resource lists.
    struct Translation {
        WORD language, codePage;
    }* translations = nullptr;
    if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                       &length) &&
        translations && length >= sizeof(Translation)) {
        wchar_t block[64];
        swprintf(block, 64, L"\\StringFileInfo\\%04x%04x", translations[0].language, translations[0].codePage);
        out.companyName = stringValue(data, block, L"CompanyName");
        out.productName = stringValue(data, block, L"ProductName");
        out.fileDescription = stringValue(data, block, L"FileDescription");
    }
    return true;
}

}  // namespace plat
