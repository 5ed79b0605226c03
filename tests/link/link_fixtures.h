// Shared helpers of the link tests: a scripted HID device, responses cut into
// reports, firmware images and a plain upgrade driver.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "link/connection.h"
#include "package/app_state.h"

namespace iap::test {

using Bytes = std::vector<uint8_t>;

// A connection (report ID 0x01) on a device that records each written report
// and answers reads from a script: result > 0 delivers the report, 0 times
// out, < 0 fails.
struct ScriptedLink {
    std::vector<Bytes> written;
    std::deque<std::pair<int, Bytes>> reads;
    int writeResult = 64;
    DeviceConnection connection;

    ScriptedLink();
    void answer(const Bytes& report, int result = 64) { reads.emplace_back(result, report); }
};

// One 64-byte report with report ID 0x01 carrying payload.
Bytes packReport(const Bytes& payload, uint16_t remaining = 0, bool first = true);
// A response business pack: code, status, 0, A, A bytes 0x33, CRC high first.
Bytes makeResponse(uint8_t status, size_t dataLength = 0, uint8_t code = 0xB0);
// A business pack cut into 56-byte transfer packs, one report each.
std::vector<Bytes> cut(const Bytes& pack);

DeviceIdEntry entry(uint16_t productId, uint8_t reportId = 0x01, uint16_t vendorId = 0x1234);

struct ImageSpec {
    size_t payloadSize = 1000;
    uint16_t blockSize = 256;
    std::string swVersion = "V2.3.4";
};
// A 128-byte header (printable signature, chip info at 8, SW version at 54,
// payload CRC at 62, block size at 66, block count at 68, payload length at
// 110, header CRC at 126) followed by a patterned payload.
Bytes makeImage(const ImageSpec& spec = {});
void resealHeader(Bytes& image);  // after a test changed header bytes

// Sends the command in the request buffer and takes its response: the status.
uint8_t transact(DeviceConnection& connection, size_t length, int timeoutMs = 200);
// Header, every block, finish: the status of the first rejected command, or 0.
uint8_t upgrade(DeviceConnection& connection, const Bytes& image, uint16_t switchDelay = 0);

}  // namespace iap::test
