// Dynamic libraries of the maker (LoadLibraryW / dlopen of the same file names).
#pragma once
#include <string>

#include "platform/unique_handle.h"

namespace plat {

using LibraryHandle = void*;

// Points the library search path at folder (SetDllDirectoryW); no effect on POSIX.
void setLibraryDirectory(const std::u16string& folder);
LibraryHandle loadLibrary(const std::u16string& path);  // null on failure
void* librarySymbol(LibraryHandle library, const char* name);
void freeLibrary(LibraryHandle library);
using UniqueLibrary = UniqueHandle<freeLibrary>;

}  // namespace plat
