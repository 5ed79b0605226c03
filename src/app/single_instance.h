// One running copy: on Linux an exclusive lock on a file named after the
// window class in the user's runtime directory (single_instance.cpp); on
// Windows the named mutex "USB IAP tool" (single_instance_win32.cpp).
#pragma once

#include <filesystem>
#include <string>

namespace iap {

enum class InstanceLock {
    Acquired,       // this is the first copy; the lock is held until exit
    AlreadyRunning, // another copy holds the lock
    Unavailable,    // the lock file could not be opened; run as the first copy
};

#ifndef _WIN32
// $XDG_RUNTIME_DIR when set and absolute, else /tmp.
std::filesystem::path runtimeDirectory();
#endif

// Takes the lock named `name` without waiting. A lock taken stays held for
// the life of the process.
InstanceLock acquireInstanceLock(const std::string& name);

}  // namespace iap
