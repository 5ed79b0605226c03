#include "test_image.h"

#include <cstring>

#include "link/crc16.h"
#include "link/packets.h"

namespace iap::test {
namespace {

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void putCounted(uint8_t* p, const std::string& text) {
    p[0] = static_cast<uint8_t>(text.size());
    std::memcpy(p + 1, text.data(), text.size());
}

}  // namespace

std::vector<uint8_t> makeImage(const ImageSpec& spec) {
    std::vector<uint8_t> image(128 + spec.payloadSize, 0xFF);
    for (size_t i = 0; i < spec.payloadSize; ++i) {
        image[128 + i] = static_cast<uint8_t>((i * 7 + i / 256) & 0xFF);
    }
    std::memcpy(image.data(), spec.signature.data(), std::min<size_t>(8, spec.signature.size()));
    putCounted(image.data() + 8, "CHIP-X1");
    putCounted(image.data() + 24, "ITEM-42");
    std::memcpy(image.data() + 48, "V1.0.0", 6);
    std::memcpy(image.data() + 54, spec.swVersion.data(), 6);
    storeCrcHighFirst(image.data() + 62, crc16Modbus(image.data() + 128, spec.payloadSize));
    image[66] = static_cast<uint8_t>(spec.blockSize & 0xFF);
    image[67] = static_cast<uint8_t>(spec.blockSize >> 8);
    const uint32_t count = spec.blockSize ? static_cast<uint32_t>((spec.payloadSize + spec.blockSize - 1) / spec.blockSize) : 0;
    putLe32(image.data() + 68, count);
    putLe32(image.data() + 106, 0x08004000);
    putLe32(image.data() + 110, static_cast<uint32_t>(spec.payloadSize));
    resealHeader(image);
    return image;
}

void resealHeader(std::vector<uint8_t>& image) {
    storeCrcHighFirst(image.data() + 126, crc16Modbus(image.data(), 126));
}

uint8_t transact(DeviceConnection& connection, size_t length, int timeoutMs) {
    connection.sendBusinessPack(connection.request(), length, timeoutMs);
    connection.receiveBusinessPack(timeoutMs);
    return connection.response()[1];
}

uint8_t upgrade(DeviceConnection& connection, const std::vector<uint8_t>& image, uint16_t switchDelay) {
    uint8_t status = transact(connection, buildHeaderCommand(connection.request(), image));
    if (status != 0) return status;
    const uint16_t size = imageBlockSize(image);
    const uint32_t payload = static_cast<uint32_t>(image.size() - 128);
    const uint32_t count = blockCount(payload, size);
    for (uint32_t k = 0; k < count; ++k) {
        const bool last = k + 1 == count;
        const uint32_t length = last ? lastBlockSize(payload, size) : size;
        status = transact(connection, buildDataCommand(connection.request(), image, k, size, length, last));
        if (status != 0) return status;
    }
    return transact(connection, buildFinishCommand(connection.request(), switchDelay));
}

}  // namespace iap::test
