// Dynamic libraries: dlopen of the same file names the Windows build loads.
#include "platform/library.h"
#include <dlfcn.h>
#include "platform/files.h"
#include "platform/system.h"

namespace plat {

void setLibraryDirectory(const std::u16string&) {}

LibraryHandle loadLibrary(const std::u16string& path) {
    if (path.empty()) return nullptr;
    // A bare name is looked for beside the executable first, as Windows does.
    if (path.find(u'\\') == std::u16string::npos && path.find(u'/') == std::u16string::npos) {
        std::u16string besideUs = parentFolder(executablePath()) + u"\\" + path;
        if (fileExists(besideUs))
            if (void* handle = dlopen(nativePath(besideUs).c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
    }
    return dlopen(nativePath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* librarySymbol(LibraryHandle library, const char* name) {
    return library && name ? dlsym(library, name) : nullptr;
}

void freeLibrary(LibraryHandle library) {
    if (library) dlclose(library);
}

}  // namespace plat
