#include "support/link_fixtures.h"

#include <cstring>

#include "bytes/checksums.h"
#include "link/packets.h"

namespace iap::test {

DeviceIdEntry entry(uint16_t productId, uint8_t reportId, uint16_t vendorId) {
    DeviceIdEntry e;
    e.vendorId = vendorId;
    e.productId = productId;
    e.reportId = reportId;
    return e;
}

Bytes makeImage(const ImageSpec& spec) {
    const size_t n = spec.payloadSize;
    Bytes image(128, 0xFF);
    for (size_t i = 0; i < n; ++i) image.push_back(static_cast<uint8_t>(i * 7 + i / 256));
    std::memcpy(image.data(), "IAPIMAGE\x07" "CHIP-X1", 16);
    std::memcpy(image.data() + 54, spec.swVersion.data(), 6);
    storeCrcHighFirst(image.data() + 62, crc16Modbus(image.data() + 128, n));
    const size_t count = spec.blockSize ? (n + spec.blockSize - 1) / spec.blockSize : 0;
    for (int i = 0; i < 4; ++i) {
        image[68 + i] = static_cast<uint8_t>(count >> (8 * i));
        image[110 + i] = static_cast<uint8_t>(n >> (8 * i));
    }
    image[66] = static_cast<uint8_t>(spec.blockSize & 0xFF);
    image[67] = static_cast<uint8_t>(spec.blockSize >> 8);
    resealHeader(image);
    return image;
}

void resealHeader(Bytes& image) { storeCrcHighFirst(image.data() + 126, crc16Modbus(image.data(), 126)); }

uint8_t transact(DeviceConnection& connection, size_t length, int timeoutMs) {
    connection.sendBusinessPack(connection.request(), length, timeoutMs);
    connection.receiveBusinessPack(timeoutMs);
    return connection.response()[1];
}

uint8_t upgrade(DeviceConnection& connection, const Bytes& image, uint16_t switchDelay) {
    uint8_t status = transact(connection, buildHeaderCommand(connection.request(), image));
    const auto payload = static_cast<uint32_t>(image.size() - 128);
    const uint16_t size = imageBlockSize(image);
    const uint32_t count = status == 0 ? blockCount(payload, size) : 0;
    for (uint32_t k = 0; k < count && status == 0; ++k) {
        const bool last = k + 1 == count;
        const uint32_t length = last ? lastBlockSize(payload, size) : size;
        status = transact(connection, buildDataCommand(connection.request(), image, k, size, length, last));
    }
    return status != 0 ? status : transact(connection, buildFinishCommand(connection.request(), switchDelay));
}

}  // namespace iap::test
