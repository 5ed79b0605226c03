// One running copy per session: a named mutex created with initial
// ownership. The handle stays open, and the mutex owned, until the process
// ends.
#include <windows.h>

#include <string>

#include "app/single_instance.h"
#include "bytes/wide_text.h"

namespace iap {

InstanceLock acquireInstanceLock(const std::string& name) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, wideFromUtf8(name).c_str());
    if (!mutex) return InstanceLock::Unavailable;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return InstanceLock::AlreadyRunning;
    }
    return InstanceLock::Acquired;
}

}  // namespace iap
