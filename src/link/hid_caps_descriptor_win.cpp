// The report descriptor of a Windows HID device path, from the system's HID
// parser (hid.dll).
#include <windows.h>
// After windows.h, whose types they use; mingw's copies declare C functions
// without extern "C".
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <algorithm>
#include <string>
#include <vector>

#include "bytes/wide_text.h"
#include "link/hid_caps_descriptor.h"
#include "link/hidapi_devices.h"

namespace iap {
namespace {

// One field of the parsed descriptor: where its main item stands among
// those of its report type, and its report ID.
struct Field {
    USHORT dataIndex;
    UCHAR reportId;
};

template <typename Caps>
USHORT dataIndexOf(const Caps& c) {
    return c.IsRange ? c.Range.DataIndexMin : c.NotRange.DataIndex;
}

// The fields of one kind of caps (buttons or values) of one report type.
template <typename Caps, typename Get>
void addFields(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE type, USHORT count, Get get, std::vector<Field>& out) {
    if (count == 0) return;
    std::vector<Caps> caps(count);
    USHORT n = count;
    if (get(type, caps.data(), &n, data) != HIDP_STATUS_SUCCESS) return;
    for (USHORT i = 0; i < n && i < count; ++i) out.push_back({dataIndexOf(caps[i]), caps[i].ReportID});
}

// The report IDs of one report type in the descriptor's order. The parser
// hands out buttons and values apart; their data indices count the main
// items of the report type in the order the descriptor declares them.
void addReportIds(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE type, USHORT buttons, USHORT values,
                  HidCapsSummary& out) {
    std::vector<Field> fields;
    addFields<HIDP_BUTTON_CAPS>(data, type, buttons, HidP_GetButtonCaps, fields);
    addFields<HIDP_VALUE_CAPS>(data, type, values, HidP_GetValueCaps, fields);
    std::stable_sort(fields.begin(), fields.end(),
                     [](const Field& a, const Field& b) { return a.dataIndex < b.dataIndex; });
    for (const Field& f : fields) out.reportIds.push_back(f.reportId);
}

}  // namespace

bool capsSummaryOf(void* preparsedData, HidCapsSummary& out) {
    auto data = static_cast<PHIDP_PREPARSED_DATA>(preparsedData);
    HIDP_CAPS caps{};
    if (HidP_GetCaps(data, &caps) != HIDP_STATUS_SUCCESS) return false;
    out = HidCapsSummary{};
    out.usagePage = caps.UsagePage;
    out.usage = caps.Usage;
    // Across report types nothing in the caps tells which came first:
    // input, then output, then feature.
    addReportIds(data, HidP_Input, caps.NumberInputButtonCaps, caps.NumberInputValueCaps, out);
    addReportIds(data, HidP_Output, caps.NumberOutputButtonCaps, caps.NumberOutputValueCaps, out);
    addReportIds(data, HidP_Feature, caps.NumberFeatureButtonCaps, caps.NumberFeatureValueCaps, out);
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
