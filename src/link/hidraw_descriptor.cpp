#include "link/hidraw_descriptor.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "link/hidapi_devices.h"

namespace iap {
namespace {

int copyOut(const std::string& bytes, uint8_t* buf, size_t size) {
    const size_t n = bytes.size() < size ? bytes.size() : size;
    std::memcpy(buf, bytes.data(), n);
    return static_cast<int>(n);
}

}  // namespace

int readHidrawDescriptor(const std::string& nodePath, uint8_t* buf, size_t size) {
    const size_t slash = nodePath.find_last_of('/');
    const std::string node = slash == std::string::npos ? nodePath : nodePath.substr(slash + 1);
    if (!node.empty()) {
        std::ifstream sysfs("/sys/class/hidraw/" + node + "/device/report_descriptor", std::ios::binary);
        if (sysfs) {
            std::string bytes((std::istreambuf_iterator<char>(sysfs)), std::istreambuf_iterator<char>());
            if (!bytes.empty()) {
                return copyOut(bytes, buf, size);
            }
        }
    }
    const int fd = ::open(nodePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    int descSize = 0;
    hidraw_report_descriptor desc{};
    int result = -1;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &descSize) >= 0 && descSize >= 0 &&
        descSize <= HID_MAX_DESCRIPTOR_SIZE) {
        desc.size = static_cast<uint32_t>(descSize);
        if (::ioctl(fd, HIDIOCGRDESC, &desc) >= 0) {
            result = copyOut(std::string(reinterpret_cast<const char*>(desc.value), desc.size), buf, size);
        }
    }
    ::close(fd);
    return result;
}

int platformReportDescriptor(const std::string& path, uint8_t* buf, size_t size) {
    return readHidrawDescriptor(path, buf, size);
}

}  // namespace iap
