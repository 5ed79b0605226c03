// The all-or-nothing write on POSIX: mkstemp beside the target, fchmod,
// fsync, rename over it.
#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pack/file_io.h"

namespace iap::pack {

namespace fs = std::filesystem;

void writeFileAtomically(const fs::path& path, const std::vector<std::span<const uint8_t>>& parts,
                         unsigned mode) {
    std::string temp = path.string() + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw fileError(path, "cannot create a temporary file beside it", errno);
    auto failWith = [&](const char* what) {
        const int error = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        return fileError(path, what, error);
    };
    for (std::span<const uint8_t> part : parts) {
        const uint8_t* data = part.data();
        size_t left = part.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, data, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                throw failWith("write failed");
            }
            data += n;
            left -= static_cast<size_t>(n);
        }
    }
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0) throw failWith("cannot set permissions");
    if (::fsync(fd) != 0) throw failWith("cannot flush to disk");
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        throw fileError(path, "close failed", error);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        throw fileError(path, "cannot replace", error);
    }
}

}  // namespace iap::pack
