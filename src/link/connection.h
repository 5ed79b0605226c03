// One open device with its buffers: the 64-byte report buffer of the report
// channel, the request buffer in which commands are built and the response
// buffer in which the last response is collected. The application holds one;
// a tool that upgrades several devices at once holds one per device.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/device_record.h"
#include "link/transfer_pack.h"

namespace iap {

class DeviceConnection {
public:
    static constexpr size_t kBufferSize = 8208;
    static constexpr size_t kReportSize = iap::kReportSize;

    DeviceConnection();

    DeviceRecord record;

    // Frames one transfer pack (at most 56 bytes) with the record's report ID,
    // writes the 64-byte report and reads the answering report into the same
    // buffer. Returns the number of bytes read (> 0). Throws
    // std::runtime_error("hid_set_report failed" / "hid_get_report failed")
    // (also when the record holds no device) or timeout_exception; a payload
    // above 56 bytes is a caller's mistake (std::length_error, nothing sent).
    int exchange(const uint8_t* payload, size_t length, uint16_t remaining, bool first, int timeoutMs);

    // Checks the report left by the last exchange; throws
    // transfer_pack_exception.
    TransferPack checkTransferPack() const;

    // Cuts the pack into transfer packs of 56 bytes (the last shorter), one
    // exchange each, every exchange waiting for its answering report. Input
    // reports already waiting before the first pack (a reply sent twice, a
    // late reply to an earlier command) are read and dropped first, so that
    // no stale reply can stand in for the answer to this command.
    void sendBusinessPack(const uint8_t* pack, size_t length, int readAckTimeout);

    // Reads and drops the input reports already waiting (reads with time-out
    // 0 until none); at most kMaxDrained of them. Returns how many.
    size_t discardWaitingInput();
    static constexpr size_t kMaxDrained = 256;

    // Takes the response from the report that the last exchange read. A
    // response that does not fit in that report is completed from further
    // reports, each read with readAckTimeout. Returns its length A + 7; the
    // response stays in response() until the next call.
    size_t receiveBusinessPack(int readAckTimeout);

    const uint8_t* response() const { return response_.data(); }
    uint8_t* request() { return request_.data(); }
    const uint8_t* report() const { return report_.data(); }

private:
    // hid_read_timeout into the report buffer; throws as exchange does.
    int readReport(int timeoutMs);

    std::array<uint8_t, kReportSize> report_{};
    std::vector<uint8_t> request_;
    std::vector<uint8_t> response_;
};

}  // namespace iap
