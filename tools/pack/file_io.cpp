#include "pack/file_io.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace iap::pack {

namespace fs = std::filesystem;

namespace {

std::runtime_error fileError(const fs::path& path, const std::string& what, int error) {
    return std::runtime_error(path.string() + ": " + what + ": " + std::strerror(error));
}

}  // namespace

std::vector<uint8_t> readFile(const fs::path& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) throw std::runtime_error(path.string() + ": is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw fileError(path, "cannot open", errno);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) throw std::runtime_error(path.string() + ": cannot determine its size");
    in.seekg(0);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        throw std::runtime_error(path.string() + ": read failed");
    }
    return bytes;
}

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
