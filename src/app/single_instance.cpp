#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace iap {

std::filesystem::path runtimeDirectory() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (dir && dir[0] == '/') return dir;
    return "/tmp";
}

InstanceLock acquireInstanceLock(const std::string& name) {
    std::filesystem::path path = runtimeDirectory() / name;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return InstanceLock::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // The descriptor stays open, and the lock held, until the process ends.
        return InstanceLock::Acquired;
    }
    int err = errno;
    ::close(fd);
    return err == EWOULDBLOCK ? InstanceLock::AlreadyRunning : InstanceLock::Unavailable;
}

}  // namespace iap
