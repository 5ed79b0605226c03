// The least report descriptor discovery needs, made from what a HID parser
// says about a device instead of from the device's own descriptor. Windows
// keeps the descriptor to itself: hidapi 0.13 has no call for it there, and
// the system hands out only the parsed form (HidD_GetPreparsedData), whose
// caps carry the top-level usage page and the report ID of every field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace iap {

struct HidCapsSummary {
    uint16_t usagePage = 0;  // of the top-level collection
    uint16_t usage = 0;
    // Report IDs of the fields: the input fields in the descriptor's order,
    // then the output fields, then the feature fields (the caps keep the
    // order within a report type only); 0 for a device that numbers no reports.
    std::vector<uint8_t> reportIds;
};

// Usage Page (0x06, two data bytes), Usage, Collection (Application), the
// first non-zero report ID as a Report ID item (0x85) when there is one, End
// Collection. walkReportDescriptor reads from it the usage page and the first
// report ID of the summary.
std::vector<uint8_t> descriptorFromCaps(const HidCapsSummary& caps);

// Copies the descriptor into buf (at most size bytes); the byte count.
int copyDescriptor(const std::vector<uint8_t>& descriptor, uint8_t* buf, size_t size);

#ifdef _WIN32
// The summary of a parsed descriptor (PHIDP_PREPARSED_DATA) through
// HidP_GetCaps, HidP_GetButtonCaps and HidP_GetValueCaps. False when the
// parser refuses it.
bool capsSummaryOf(void* preparsedData, HidCapsSummary& out);

// Opens the device path without access rights (enough for the parsed
// descriptor, also while another program holds the device), reads its
// parsed descriptor and makes the descriptor of descriptorFromCaps. Byte
// count, or -1.
int readHidCapsDescriptor(const std::string& path, uint8_t* buf, size_t size);
#endif

}  // namespace iap
