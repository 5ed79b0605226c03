// The report descriptor of a Windows HID device path, from the system's HID
// parser (hid.dll).
#include <windows.h>
// After windows.h, whose types they use; mingw's copies declare C functions
// without extern "C".
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <string>
#include <vector>

#include "bytes/wide_text.h"
#include "link/hid_caps_descriptor.h"
#include "link/hidapi_devices.h"

namespace iap {
namespace {

// The report IDs of one kind of caps (buttons or values) of one report type.
template <typename Caps, typename Get>
void addIds(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE type, USHORT count, Get get, HidCapsSummary& out) {
    if (count == 0) return;
    std::vector<Caps> caps(count);
    USHORT n = count;
    if (get(type, caps.data(), &n, data) != HIDP_STATUS_SUCCESS) return;
    for (USHORT i = 0; i < n && i < count; ++i) out.reportIds.push_back(caps[i].ReportID);
}

}  // namespace

bool capsSummaryOf(void* preparsedData, HidCapsSummary& out) {
    auto data = static_cast<PHIDP_PREPARSED_DATA>(preparsedData);
    HIDP_CAPS caps{};
    if (HidP_GetCaps(data, &caps) != HIDP_STATUS_SUCCESS) return false;
    out = HidCapsSummary{};
    out.usagePage = caps.UsagePage;
    out.usage = caps.Usage;
    // Within one report type the parser keeps the descriptor's order.
    addIds<HIDP_BUTTON_CAPS>(data, HidP_Input, caps.NumberInputButtonCaps, HidP_GetButtonCaps, out);
    addIds<HIDP_VALUE_CAPS>(data, HidP_Input, caps.NumberInputValueCaps, HidP_GetValueCaps, out);
    addIds<HIDP_BUTTON_CAPS>(data, HidP_Output, caps.NumberOutputButtonCaps, HidP_GetButtonCaps, out);
    addIds<HIDP_VALUE_CAPS>(data, HidP_Output, caps.NumberOutputValueCaps, HidP_GetValueCaps, out);
    addIds<HIDP_BUTTON_CAPS>(data, HidP_Feature, caps.NumberFeatureButtonCaps, HidP_GetButtonCaps, out);
    addIds<HIDP_VALUE_CAPS>(data, HidP_Feature, caps.NumberFeatureValueCaps, HidP_GetValueCaps, out);
    return true;
}

int readHidCapsDescriptor(const std::string& path, uint8_t* buf, size_t size) {
    HANDLE device = CreateFileW(wideFromUtf8(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return -1;
    PHIDP_PREPARSED_DATA data = nullptr;
    int result = -1;
    if (HidD_GetPreparsedData(device, &data)) {
        HidCapsSummary summary;
        if (capsSummaryOf(data, summary)) result = copyDescriptor(descriptorFromCaps(summary), buf, size);
        HidD_FreePreparsedData(data);
    }
    CloseHandle(device);
    return result;
}

int platformReportDescriptor(const std::string& path, uint8_t* buf, size_t size) {
    return readHidCapsDescriptor(path, buf, size);
}

}  // namespace iap
