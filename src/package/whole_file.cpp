#include "package/whole_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace iap {

namespace fs = std::filesystem;

std::runtime_error fileError(const fs::path& path, const std::string& what, int error) {
    return std::runtime_error(path.string() + ": " + what + ": " + std::strerror(error));
}

std::vector<uint8_t> readWholeFile(const fs::path& path) {
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

}  // namespace iap
