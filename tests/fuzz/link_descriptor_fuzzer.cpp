// The report-descriptor walk and the device-path token rule on any bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "link/descriptor.h"
#include "link/discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy: any read past the descriptor is caught.
    std::unique_ptr<uint8_t[]> descriptor(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(descriptor.get(), data, size);
    const iap::DescriptorFacts facts = iap::walkReportDescriptor(descriptor.get(), size);
    (void)facts;

    uint16_t vid = 0;
    uint16_t pid = 0;
    const std::string path(reinterpret_cast<const char*>(data), size);
    std::string upper = path;
    for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (iap::pathVidPid(path, vid, pid) && upper.find("VID_") == std::string::npos) __builtin_trap();
    iap::HidDeviceInfo info{path, 1, 2, 0};
    (void)iap::deviceVidPid(info, vid, pid);
    return 0;
}
