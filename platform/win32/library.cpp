#include <windows.h>

#include "platform/library.h"
#include "platform/win32/wide.h"

namespace plat {

void setLibraryDirectory(const std::u16string& folder) { SetDllDirectoryW(win32::wide(folder)); }

LibraryHandle loadLibrary(const std::u16string& path) { return LoadLibraryW(win32::wide(path)); }

void* librarySymbol(LibraryHandle library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeLibrary(LibraryHandle library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace plat
