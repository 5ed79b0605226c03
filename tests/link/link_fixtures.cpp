#include "link_fixtures.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "link/crc16.h"
#include "link/packets.h"
#include "link/transfer_pack.h"

namespace iap::test {
namespace {

struct ScriptedDevice : HidDevice {
    ScriptedLink& link;
    explicit ScriptedDevice(ScriptedLink& l) : link(l) {}
    int getReportDescriptor(uint8_t*, size_t) override { return -1; }
    int write(const uint8_t* data, size_t length) override {
        link.written.emplace_back(data, data + length);
        return link.writeResult;
    }
    int readTimeout(uint8_t* data, size_t length, int) override {
        if (link.reads.empty()) return 0;
        const auto [result, report] = link.reads.front();
        link.reads.pop_front();
        if (result > 0) std::memcpy(data, report.data(), std::min(length, report.size()));
        return result;
    }
};

void putLe32(uint8_t* p, size_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

ScriptedLink::ScriptedLink() {
    connection.record.handle = std::make_unique<ScriptedDevice>(*this);
    connection.record.reportId = 0x01;
}

Bytes packReport(const Bytes& payload, uint16_t remaining, bool first) {
    Bytes r(64, 0);
    frameTransferPack(r.data(), 0x01, payload.data(), payload.size(), remaining, first);
    return r;
}

Bytes makeResponse(uint8_t status, size_t dataLength, uint8_t code) {
    Bytes r(dataLength + 7, 0x33);
    r[0] = code;
    r[1] = status;
    r[2] = 0;
    r[3] = static_cast<uint8_t>(dataLength & 0xFF);
    r[4] = static_cast<uint8_t>(dataLength >> 8);
    storeCrcHighFirst(r.data() + dataLength + 5, crc16Modbus(r.data(), dataLength + 5));
    return r;
}

std::vector<Bytes> cut(const Bytes& pack) {
    std::vector<Bytes> reports;
    const size_t count = (pack.size() - 1) / 56 + 1;
    for (size_t i = 0; i < count; ++i) {
        const auto from = pack.begin() + static_cast<long>(56 * i);
        const size_t n = std::min<size_t>(56, pack.size() - 56 * i);
        reports.push_back(packReport(Bytes(from, from + static_cast<long>(n)), static_cast<uint16_t>(count - 1 - i),
                                     i == 0));
    }
    return reports;
}

DeviceIdEntry entry(uint16_t productId, uint8_t reportId, uint16_t vendorId) {
    DeviceIdEntry e;
    e.vendorId = vendorId;
    e.productId = productId;
    e.reportId = reportId;
    return e;
}

Bytes makeImage(const ImageSpec& spec) {
    Bytes image(128 + spec.payloadSize, 0xFF);
    for (size_t i = 0; i < spec.payloadSize; ++i) image[128 + i] = static_cast<uint8_t>((i * 7 + i / 256) & 0xFF);
    std::memcpy(image.data(), "IAPIMAGE", 8);
    image[8] = 7;
    std::memcpy(image.data() + 9, "CHIP-X1", 7);
    std::memcpy(image.data() + 54, spec.swVersion.data(), 6);
    storeCrcHighFirst(image.data() + 62, crc16Modbus(image.data() + 128, spec.payloadSize));
    image[66] = static_cast<uint8_t>(spec.blockSize & 0xFF);
    image[67] = static_cast<uint8_t>(spec.blockSize >> 8);
    putLe32(image.data() + 68, spec.blockSize ? (spec.payloadSize + spec.blockSize - 1) / spec.blockSize : 0);
    putLe32(image.data() + 110, spec.payloadSize);
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
    if (status != 0) return status;
    const uint16_t size = imageBlockSize(image);
    const auto payload = static_cast<uint32_t>(image.size() - 128);
    const uint32_t count = blockCount(payload, size);
    for (uint32_t k = 0; k < count && status == 0; ++k) {
        const bool last = k + 1 == count;
        const uint32_t length = last ? lastBlockSize(payload, size) : size;
        status = transact(connection, buildDataCommand(connection.request(), image, k, size, length, last));
    }
    return status != 0 ? status : transact(connection, buildFinishCommand(connection.request(), switchDelay));
}

}  // namespace iap::test
