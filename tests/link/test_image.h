// Firmware images and a plain upgrade driver for the link tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/connection.h"

namespace iap::test {

struct ImageSpec {
    size_t payloadSize = 1000;
    uint16_t blockSize = 256;
    std::string signature = "IAPIMAGE";
    std::string swVersion = "V2.3.4";
};

// A 128-byte header (signature, chip and item info, versions at 48 and 54,
// payload CRC at 62, block size at 66, block count at 68, payload length at
// 110, header CRC at 126; the rest 0xFF) followed by a patterned payload.
std::vector<uint8_t> makeImage(const ImageSpec& spec = {});

// Recomputes the header CRC after a test changed header bytes.
void resealHeader(std::vector<uint8_t>& image);

// Sends one command and takes its response; returns the status code.
uint8_t transact(DeviceConnection& connection, size_t length, int timeoutMs = 200);

// Header, every block, finish: the status of the first rejected command, or 0.
uint8_t upgrade(DeviceConnection& connection, const std::vector<uint8_t>& image, uint16_t switchDelay = 0);

}  // namespace iap::test
