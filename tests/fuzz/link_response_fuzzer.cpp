// Received reports: the transfer-pack check and the response assembly over
// any sequence of 64-byte reports. Any input must end in a complete response
// or one of the link's exceptions, never in a read or write out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

#include "link/crc16.h"
#include "link/exceptions.h"
#include "link/packets.h"
#include "link/response_assembler.h"
#include "link/transfer_pack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace iap;
    // Exactly one report in its own allocation, so that a read past byte 63
    // is caught by the address sanitizer.
    std::vector<uint8_t> buffer(8208);
    ResponseAssembler assembler(buffer.data(), buffer.size());
    for (size_t pos = 0; pos < size; pos += kReportSize) {
        std::unique_ptr<uint8_t[]> report(new uint8_t[kReportSize]());
        std::memcpy(report.get(), data + pos, std::min(kReportSize, size - pos));
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
