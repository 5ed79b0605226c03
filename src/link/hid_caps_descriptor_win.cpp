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

#include "link/hid_caps_descriptor.h"
#include "link/hidapi_devices.h"

namespace iap {
namespace {

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

void addButtonIds(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE type, USHORT count, HidCapsSummary& out) {
    if (count == 0) return;
    std::vector<HIDP_BUTTON_CAPS> caps(count);
    USHORT n = count;
    if (HidP_GetButtonCaps(type, caps.data(), &n, data) != HIDP_STATUS_SUCCESS) return;
    for (USHORT i = 0; i < n && i < count; ++i) out.reportIds.push_back(caps[i].ReportID);
}

void addValueIds(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE type, USHORT count, HidCapsSummary& out) {
    if (count == 0) return;
    std::vector<HIDP_VALUE_CAPS> caps(count);
    USHORT n = count;
    if (HidP_GetValueCaps(type, caps.data(), &n, data) != HIDP_STATUS_SUCCESS) return;
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
    addButtonIds(data, HidP_Input, caps.NumberInputButtonCaps, out);
    addValueIds(data, HidP_Input, caps.NumberInputValueCaps, out);
    addButtonIds(data, HidP_Output, caps.NumberOutputButtonCaps, out);
    addValueIds(data, HidP_Output, caps.NumberOutputValueCaps, out);
    addButtonIds(data, HidP_Feature, caps.NumberFeatureButtonCaps, out);
    addValueIds(data, HidP_Feature, caps.NumberFeatureValueCaps, out);
    return true;
}

int readHidCapsDescriptor(const std::string& path, uint8_t* buf, size_t size) {
    HANDLE device = CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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
