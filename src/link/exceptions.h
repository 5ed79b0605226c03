// Failures of the device link. HID write and read failures are plain
// std::runtime_error with the texts kHidSetReportFailed / kHidGetReportFailed;
// the three protocol failures below carry no text of their own.
#pragma once

#include <exception>

namespace iap {

inline constexpr const char* kHidSetReportFailed = "hid_set_report failed";
inline constexpr const char* kHidGetReportFailed = "hid_get_report failed";

// No answering report within the read time-out.
struct timeout_exception : std::exception {
    timeout_exception() = default;
    timeout_exception(const timeout_exception&) = default;
    const char* what() const noexcept override { return "Unknown exception"; }
};

// A received report with a wrong marker, checksum or length field.
struct transfer_pack_exception : std::exception {
    transfer_pack_exception() = default;
    transfer_pack_exception(const transfer_pack_exception&) = default;
    const char* what() const noexcept override { return "Unknown exception"; }
};

// A received response that fails the response checks.
struct business_pack_exception : std::exception {
    business_pack_exception() = default;
    business_pack_exception(const business_pack_exception&) = default;
    const char* what() const noexcept override { return "Unknown exception"; }
};

}  // namespace iap
