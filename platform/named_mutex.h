// Named mutexes shared between processes. On POSIX a mutex "exists" while some
// process holds its lock file.
#pragma once
#include <string>

#include "platform/unique_handle.h"

namespace plat {

using MutexHandle = void*;

// OpenMutexW: null when no such mutex exists.
MutexHandle openNamedMutex(const std::u16string& name);
// CreateMutexW; nullDacl gives a security descriptor everyone may open. When existed is
// given it tells whether the mutex was there already (ERROR_ALREADY_EXISTS): creating
// and that test are one atomic step, so of many processes creating at once exactly one
// is told the mutex is new.
MutexHandle createNamedMutex(const std::u16string& name, bool initialOwner, bool nullDacl,
                             bool* existed = nullptr);
void closeMutex(MutexHandle handle);
using UniqueMutex = UniqueHandle<closeMutex>;

}  // namespace plat
