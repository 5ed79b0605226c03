// Shared helpers of the link tests: firmware images and a plain upgrade driver.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/connection.h"
#include "link/exceptions.h"
#include "package/app_state.h"

namespace iap::test {

using Bytes = std::vector<uint8_t>;

DeviceIdEntry entry(uint16_t productId, uint8_t reportId = 0x01, uint16_t vendorId = 0x1234);

struct ImageSpec {
    size_t payloadSize = 1000;
    uint16_t blockSize = 256;
    std::string swVersion = "V2.3.4";
};
// A header the simulated bootloader accepts (printable signature, chip ID
// "CHIP-X1" at 8, SW version at 54, payload CRC at 62, block size at 66, block
// count at 68, payload length at 110, header CRC at 126), then the payload.
Bytes makeImage(const ImageSpec& spec = {});
void resealHeader(Bytes& image);  // after a test changed header bytes

// Sends the command in the request buffer and takes its response: the status.
uint8_t transact(DeviceConnection& connection, size_t length, int timeoutMs = 200);
// Header, every block, finish: the status of the first rejected command, or 0.
uint8_t upgrade(DeviceConnection& connection, const Bytes& image, uint16_t switchDelay = 0);

// What a call ended with: "timeout", "transfer", "business", the text of any
// other standard exception, or "nothing". Each failure must carry its word.
template <typename F>
std::string outcome(F&& call) {
    try {
        call();
    } catch (const timeout_exception& e) {
        EXPECT_EQ(failureOf(e), Failure::Timeout);
        return "timeout";
    } catch (const transfer_pack_exception& e) {
        EXPECT_EQ(failureOf(e), Failure::TransferPack);
        return "transfer";
    } catch (const business_pack_exception& e) {
        EXPECT_EQ(failureOf(e), Failure::BusinessPack);
        return "business";
    } catch (const std::exception& e) {
        const std::string text = e.what();
        EXPECT_EQ(failureOf(e), text == kHidSetReportFailed   ? Failure::WriteFailed
                                : text == kHidGetReportFailed ? Failure::ReadFailed
                                                              : Failure::Exception)
            << text;
        return text;
    }
    return "nothing";
}

}  // namespace iap::test
