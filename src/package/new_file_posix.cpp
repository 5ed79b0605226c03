// A new file on POSIX: open(O_CREAT | O_EXCL) with its mode from the start,
// so a secret is never readable by others, not even for a moment.
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "package/signing_key.h"
#include "package/whole_file.h"

namespace iap {

void writeNewFile(const std::filesystem::path& path, const std::string& bytes, bool ownerOnly) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? 0600 : 0644);
    if (fd < 0) throw fileError(path, "cannot create", errno);
    auto fail = [&](const char* what) {
        const int error = errno;
        ::close(fd);
        ::unlink(path.c_str());
        return fileError(path, what, error);
    };
    // The umask may only narrow the mode: set it exactly.
    if (::fchmod(fd, ownerOnly ? 0600 : 0644) != 0) throw fail("cannot set permissions");
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw fail("write failed");
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) throw fail("cannot flush to disk");
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        throw fileError(path, "close failed", error);
    }
}

}  // namespace iap
