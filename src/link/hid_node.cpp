#include "link/hid_node.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "bytes/ascii.h"

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

namespace iap {

namespace {

// The "."-separated parts of text, none empty: the first of ok chars first, the others of rest.
bool dotted(std::string_view text, bool (*first)(char), bool (*rest)(char)) {
    for (bool isFirst = true;; isFirst = false) {
        const size_t dot = std::min(text.find('.'), text.size());
        if (!allOf(text.substr(0, dot), isFirst ? first : rest)) return false;
        if (dot == text.size()) return true;
        text.remove_prefix(dot + 1);
    }
}

}  // namespace

bool isPortChain(std::string_view text) {
    // CONTROLLER "-" PORT ("." PORT)*: Linux's bus number and port numbers,
    // or Windows' controller and ports, the root port perhaps a name (usb_location.h).
    const size_t dash = text.find('-');
    if (dash == std::string_view::npos) return false;
    const std::string_view controller = text.substr(0, dash), ports = text.substr(dash + 1);
    if (allOf(controller, isAsciiDigit)) return dotted(ports, isAsciiDigit, isAsciiDigit);
    return dotted(controller, isWordChar, isWordChar) && dotted(ports, isWordChar, isAsciiDigit);
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

#ifndef _WIN32  // Windows: hid_node_win.cpp
std::string hidNodePortChain(const std::string&) { return {}; }
#endif

OpenProblem hidNodeOpenProblem(const std::string&) { return {"cannot be opened", false}; }

#endif

}  // namespace iap
