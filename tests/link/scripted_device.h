// A HID device for the channel tests: records every written report and
// answers reads from a queue of scripted results.
#pragma once

#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "link/connection.h"
#include "link/crc16.h"
#include "link/device_bus.h"
#include "link/transfer_pack.h"

namespace iap::test {

using Bytes = std::vector<uint8_t>;

struct ScriptedDevice : HidDevice {
    struct Read {
        int result;   // > 0: deliver report; 0: time-out; < 0: failure
        Bytes report;
    };
    std::vector<Bytes>* written;
    std::deque<Read>* reads;
    int writeResult = 64;

    ScriptedDevice(std::vector<Bytes>* w, std::deque<Read>* r) : written(w), reads(r) {}
    int getReportDescriptor(uint8_t*, size_t) override { return -1; }
    int write(const uint8_t* data, size_t length) override {
        written->emplace_back(data, data + length);
        return writeResult;
    }
    int readTimeout(uint8_t* data, size_t length, int) override {
        if (reads->empty()) return 0;
        Read next = reads->front();
        reads->pop_front();
        if (next.result > 0) std::memcpy(data, next.report.data(), std::min(length, next.report.size()));
        return next.result;
    }
};

// A connection on a scripted device with report ID 0x01.
struct ScriptedLink {
    std::vector<Bytes> written;
    std::deque<ScriptedDevice::Read> reads;
    DeviceConnection connection;
    ScriptedDevice* device;

    ScriptedLink() {
        auto d = std::make_unique<ScriptedDevice>(&written, &reads);
        device = d.get();
        connection.record.handle = std::move(d);
        connection.record.reportId = 0x01;
    }
    void answer(const Bytes& report) { reads.push_back({64, report}); }
    void answerPack(const Bytes& payload, uint16_t remaining = 0, bool first = true) {
        answer(packReport(payload, remaining, first));
    }
    static Bytes packReport(const Bytes& payload, uint16_t remaining = 0, bool first = true) {
        Bytes r(64, 0);
        frameTransferPack(r.data(), 0x01, payload.data(), payload.size(), remaining, first);
        return r;
    }
};

// A response business pack: B0, status, 0, A, data, CRC high byte first.
inline Bytes makeResponse(uint8_t status, size_t dataLength = 0, uint8_t code = 0xB0) {
    Bytes r(dataLength + 7, 0x33);
    r[0] = code;
    r[1] = status;
    r[2] = 0;
    r[3] = static_cast<uint8_t>(dataLength & 0xFF);
    r[4] = static_cast<uint8_t>(dataLength >> 8);
    storeCrcHighFirst(r.data() + dataLength + 5, crc16Modbus(r.data(), dataLength + 5));
    return r;
}

}  // namespace iap::test
