// Received reports: the transfer-pack check and the response assembly over
// any sequence of 64-byte reports. Any input must end in a complete response
// or one of the link's exceptions, never in a read or write out of bounds.
//
// Input byte 0 picks the mode: even, the rest is raw 64-byte reports; odd,
// the rest is a list of pieces (length byte, flags byte, payload) that are
// framed with correct checksums, so that the response checks behind the
// transfer-pack check are reached too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "bytes/checksums.h"
#include "link/exceptions.h"
#include "link/packets.h"
#include "link/response_assembler.h"
#include "link/transfer_pack.h"

namespace {

using Report = std::unique_ptr<uint8_t[]>;

// Each report in its own 64-byte allocation: a read past byte 63 is caught.
Report newReport() { return Report(new uint8_t[iap::kReportSize]()); }

std::vector<Report> rawReports(const uint8_t* data, size_t size) {
    std::vector<Report> reports;
    for (size_t pos = 0; pos < size; pos += iap::kReportSize) {
        Report r = newReport();
        std::memcpy(r.get(), data + pos, std::min(iap::kReportSize, size - pos));
        reports.push_back(std::move(r));
    }
    return reports;
}

std::vector<Report> framedReports(const uint8_t* data, size_t size) {
    std::vector<Report> reports;
    size_t pos = 0;
    while (pos + 2 <= size) {
        const size_t length = std::min<size_t>(data[pos] % 57, size - pos - 2);
        const uint8_t flags = data[pos + 1];
        Report r = newReport();
        std::vector<uint8_t> payload(data + pos + 2, data + pos + 2 + length);
        // Flag bit 1: give a first pack a valid CRC over its own bytes.
        if ((flags & 0x02) && length >= 7) {
            const size_t a = length - 7;
            payload[3] = static_cast<uint8_t>(a);
            payload[4] = 0;
            iap::storeCrcHighFirst(payload.data() + a + 5, iap::crc16Modbus(payload.data(), a + 5));
        }
        iap::frameTransferPack(r.get(), 0x01, payload.data(), length, flags >> 2, (flags & 0x01) != 0);
        reports.push_back(std::move(r));
        pos += 2 + length;
    }
    return reports;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace iap;
    if (size == 0) return 0;
    const std::vector<Report> reports = (data[0] & 1) ? framedReports(data + 1, size - 1)
                                                      : rawReports(data + 1, size - 1);
    std::vector<uint8_t> buffer(8208);
    ResponseAssembler assembler(buffer.data(), buffer.size());
    for (const Report& report : reports) {
        try {
            const TransferPack pack = parseTransferPack(report.get());
            if (pack.length > kMaxTransferPayload) __builtin_trap();
            if (assembler.feed(report.get())) {
                const size_t length = assembler.length();
                const size_t a = static_cast<size_t>(buffer[3] | (buffer[4] << 8));
                if (length != a + 7 || a > kMaxResponseData || buffer[0] != CMD_RESPONSE) __builtin_trap();
                if (crc16Modbus(buffer.data(), a + 5) != loadCrcHighFirst(buffer.data() + a + 5)) __builtin_trap();
                return 0;
            }
        } catch (const transfer_pack_exception&) {
            return 0;
        } catch (const business_pack_exception&) {
            return 0;
        }
    }
    return 0;
}
