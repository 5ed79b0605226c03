// One running copy per session: a named mutex created with initial
// ownership. The handle stays open, and the mutex owned, until the process
// ends.
#include <windows.h>

#include <string>

#include "app/single_instance.h"

namespace iap {

InstanceLock acquireInstanceLock(const std::string& name) {
    std::wstring wname(name.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wname.data(), static_cast<int>(wname.size()));
    wname.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    HANDLE mutex = CreateMutexW(nullptr, TRUE, wname.c_str());
    if (!mutex) return InstanceLock::Unavailable;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return InstanceLock::AlreadyRunning;
    }
    return InstanceLock::Acquired;
}

}  // namespace iap
