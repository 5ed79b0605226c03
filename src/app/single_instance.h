// One running copy per user: an exclusive lock on a file named after the
// window class in the user's runtime directory.
#pragma once

#include <filesystem>
#include <string>

namespace iap {

enum class InstanceLock {
    Acquired,       // this is the first copy; the lock is held until exit
    AlreadyRunning, // another copy holds the lock
    Unavailable,    // the lock file could not be opened; run as the first copy
};

// $XDG_RUNTIME_DIR when set and absolute, else /tmp.
std::filesystem::path runtimeDirectory();

// Takes the lock on runtimeDirectory()/name without waiting. A lock taken
// stays held for the life of the process.
InstanceLock acquireInstanceLock(const std::string& name);

}  // namespace iap
