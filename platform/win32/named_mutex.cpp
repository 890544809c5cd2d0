#include <windows.h>

#include "platform/named_mutex.h"
#include "platform/win32/wide.h"

namespace plat {

MutexHandle openNamedMutex(const std::u16string& name) {
    return OpenMutexW(MUTEX_ALL_ACCESS, TRUE, win32::wide(name));
}

namespace {

MutexHandle create(const std::u16string& name, bool initialOwner, bool nullDacl) {
    if (!nullDacl) return CreateMutexW(nullptr, initialOwner, win32::wide(name));
    // A present but null DACL: every user (also another session's) may open the mutex.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = FALSE;
    return CreateMutexW(&attributes, initialOwner, win32::wide(name));
}

}  // namespace

MutexHandle createNamedMutex(const std::u16string& name, bool initialOwner, bool nullDacl, bool* existed) {
    MutexHandle handle = create(name, initialOwner, nullDacl);
    if (existed) *existed = handle && GetLastError() == ERROR_ALREADY_EXISTS;
    return handle;
}

void closeMutex(MutexHandle handle) {
    if (handle) CloseHandle(handle);
}

}  // namespace plat
