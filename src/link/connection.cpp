#include "link/connection.h"

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "link/exceptions.h"
#include "link/response_assembler.h"

namespace iap {

DeviceConnection::DeviceConnection() : request_(kBufferSize, 0), response_(kBufferSize, 0) {}

int DeviceConnection::exchange(const uint8_t* payload, size_t length, uint16_t remaining, bool first,
                               int timeoutMs) {
    if (length > kMaxTransferPayload) {
        throw std::length_error("transfer pack longer than 56 bytes");
    }
    frameTransferPack(report_.data(), record.reportId, payload, length, remaining, first);
    if (!record.handle || record.handle->write(report_.data(), kReportSize) < 0) {
        throw hid_write_error();
    }
    return readReport(timeoutMs);
}

int DeviceConnection::readReport(int timeoutMs) {
    if (!record.handle) {
        throw hid_read_error();
    }
    const int got = record.handle->readTimeout(report_.data(), kReportSize, timeoutMs);
    if (got < 0) {
        throw hid_read_error();
    }
    if (got == 0) {
        throw timeout_exception();
    }
    // A short report leaves no stale bytes of the previous one behind.
    if (static_cast<size_t>(got) < kReportSize) {
        std::memset(report_.data() + got, 0, kReportSize - static_cast<size_t>(got));
    }
    return got;
}

TransferPack DeviceConnection::checkTransferPack() const {
    return parseTransferPack(report_.data());
}

size_t DeviceConnection::discardWaitingInput() {
    size_t drained = 0;
    if (!record.handle) return 0;
    std::array<uint8_t, kReportSize> stale{};
    // A failed read (a device that has gone) ends the drain; the write that
    // follows reports it.
    while (drained < kMaxDrained && record.handle->readTimeout(stale.data(), stale.size(), 0) > 0) ++drained;
    return drained;
}

void DeviceConnection::sendBusinessPack(const uint8_t* pack, size_t length, int readAckTimeout) {
    discardWaitingInput();
    const size_t count = length == 0 ? 1 : (length - 1) / kMaxTransferPayload + 1;
    for (size_t i = 0; i < count; ++i) {
        const size_t offset = i * kMaxTransferPayload;
        const size_t chunk = (i + 1 == count) ? length - offset : kMaxTransferPayload;
        exchange(pack + offset, chunk, static_cast<uint16_t>(count - 1 - i), i == 0, readAckTimeout);
    }
}

size_t DeviceConnection::receiveBusinessPack(int readAckTimeout) {
    ResponseAssembler assembler(response_.data(), response_.size());
    for (;;) {
        const bool complete = assembler.append(report_.data());
        // 1 ms after each pack taken, before the response is judged.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (complete) {
            assembler.check();
            return assembler.length();
        }
        readReport(readAckTimeout);
    }
}

}  // namespace iap
