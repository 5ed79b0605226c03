#include "link/hid_node.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

namespace iap {

bool isPortChain(std::string_view text) {
    // digits "-" digits ("." digits)*
    size_t i = 0;
    const auto digits = [&] {
        const size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i > start;
    };
    if (!digits() || i >= text.size() || text[i++] != '-' || !digits()) return false;
    while (i < text.size()) {
        if (text[i++] != '.' || !digits()) return false;
    }
    return true;
}

std::string portChainFromSysfsPath(std::string_view devicePath) {
    // ".../1-4.2/1-4.2:1.0/0003:1234:5679.0001": the HID device, its parent
    // the USB interface "<chain>:<configuration>.<interface>".
    while (!devicePath.empty() && devicePath.back() == '/') devicePath.remove_suffix(1);
    const size_t hid = devicePath.find_last_of('/');
    if (hid == std::string_view::npos) return {};
    const std::string_view parent = devicePath.substr(0, hid);
    const std::string_view interface = parent.substr(parent.find_last_of('/') + 1);
    const size_t colon = interface.find(':');
    if (colon == std::string_view::npos) return {};
    const std::string_view chain = interface.substr(0, colon);
    return isPortChain(chain) ? std::string(chain) : std::string();
}

#ifdef __linux__

std::string hidNodePortChain(const std::string& nodePath) {
    const size_t slash = nodePath.find_last_of('/');
    const std::string node = slash == std::string::npos ? nodePath : nodePath.substr(slash + 1);
    if (node.rfind("hidraw", 0) != 0) return {};
    const std::string link = "/sys/class/hidraw/" + node + "/device";
    char* resolved = ::realpath(link.c_str(), nullptr);
    if (resolved == nullptr) return {};
    std::string chain = portChainFromSysfsPath(resolved);
    std::free(resolved);
    return chain;
}

OpenProblem hidNodeOpenProblem(const std::string& nodePath) {
    // As hidapi opens it; O_NOCTTY because the node might be a terminal.
    const int fd = ::open(nodePath.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    const int error = errno;
    return {std::error_code(error, std::generic_category()).message(), error == EACCES || error == EPERM};
}

#else

std::string hidNodePortChain(const std::string&) { return {}; }

OpenProblem hidNodeOpenProblem(const std::string&) { return {"cannot be opened", false}; }

#endif

}  // namespace iap
