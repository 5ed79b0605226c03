// Failures of the device link. HID write and read failures are
// std::runtime_error with the texts kHidSetReportFailed / kHidGetReportFailed;
// the three protocol failures below carry no text of their own. Each also
// carries its Failure word (failure.h).
#pragma once

#include <exception>
#include <stdexcept>

#include "link/failure.h"

namespace iap {

inline constexpr const char* kHidSetReportFailed = "hid_set_report failed";
inline constexpr const char* kHidGetReportFailed = "hid_get_report failed";

// A report could not be written ("hid_set_report failed").
struct hid_write_error : std::runtime_error, LinkFailure {
    hid_write_error() : std::runtime_error(kHidSetReportFailed) {}
    Failure failure() const noexcept override { return Failure::WriteFailed; }
};

// A read failed ("hid_get_report failed").
struct hid_read_error : std::runtime_error, LinkFailure {
    hid_read_error() : std::runtime_error(kHidGetReportFailed) {}
    Failure failure() const noexcept override { return Failure::ReadFailed; }
};

// No answering report within the read time-out.
struct timeout_exception : std::exception, LinkFailure {
    timeout_exception() = default;
    timeout_exception(const timeout_exception&) = default;
    const char* what() const noexcept override { return "Unknown exception"; }
    Failure failure() const noexcept override { return Failure::Timeout; }
};

// A received report with a wrong marker, checksum or length field.
struct transfer_pack_exception : std::exception, LinkFailure {
    transfer_pack_exception() = default;
    transfer_pack_exception(const transfer_pack_exception&) = default;
    const char* what() const noexcept override { return "Unknown exception"; }
    Failure failure() const noexcept override { return Failure::TransferPack; }
};

// A received response that fails the response checks.
struct business_pack_exception : std::exception, LinkFailure {
    business_pack_exception() = default;
    business_pack_exception(const business_pack_exception&) = default;
    const char* what() const noexcept override { return "Unknown exception"; }
    Failure failure() const noexcept override { return Failure::BusinessPack; }
};

}  // namespace iap
