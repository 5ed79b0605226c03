// Firmware files read into one payload: what each format gives, and every
// refusal naming its line or segment. (Against an independent writer, srec_cat
// and ld: tests/tools/payload_formats_test.sh.)
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "bytes/byte_order.h"
#include "package/payload_file.h"

namespace iap {
namespace {

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

// An ELF32 little-endian file: program headers {type, file offset, paddr, filesz}, then 64 data bytes 0..63.
std::vector<uint8_t> elf32(const std::vector<std::array<uint32_t, 4>>& headers) {
    std::vector<uint8_t> f(52 + 32 * headers.size(), 0);
    f[0] = 0x7F, f[1] = 'E', f[2] = 'L', f[3] = 'F', f[4] = 1, f[5] = 1;
    storeU32(&f[28], 52);
    storeU16(&f[42], 32);
    storeU16(&f[44], static_cast<uint16_t>(headers.size()));
    for (size_t i = 0; i < headers.size(); ++i) {
        uint8_t* ph = &f[52 + 32 * i];
        storeU32(ph, headers[i][0]);
        storeU32(ph + 4, headers[i][1]);
        storeU32(ph + 8, headers[i][2] + 0x10000000);  // virtual address: not the one used
        storeU32(ph + 12, headers[i][2]);
        storeU32(ph + 16, headers[i][3]);
        storeU32(ph + 20, headers[i][3] + 100);  // memory size beyond the file bytes: not part of the image
    }
    for (uint8_t i = 0; i < 64; ++i) f.push_back(i);
    return f;
}

TEST(PayloadFile, FormatsReadAndRefusedWithTheirPlace) {
    const uint32_t data = 52 + 32 * 2;  // where elf32 with two headers keeps its data
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        std::optional<uint64_t> base;
        std::string result;  // the payload as hex pairs and its start, or the refusal
    };
    const Case cases[] = {
        {"HEX: extended linear address, a gap filled",
         bytesOf(":020000040800F2\r\n:020010000102EB\n:0100140003E8\n:00000001FF\n"), {}, "0102FFFF03 at 0x8000010"},
        {"HEX: extended segment address", bytesOf(":020000021000EC\n:01000500AA50\n"), {}, "AA at 0x10005"},
        {"HEX: base below the data", bytesOf(":0100120005E8\n"), 0x10, "FFFF05 at 0x10"},
        {"S-record: S0, S1, S2, S3 and S9", bytesOf("S00600004844521B\nS1050010AABB85\nS206000012CCDD3E\n"
                                                    "S307000000141122B1\nS9030000FC\n"), {}, "AABBCCDD1122 at 0x10"},
        {"ELF32: PT_LOAD by physical address, others skipped",
         elf32({{1, data + 4, 0x200, 2}, {4, data, 0x100, 8}}), {}, "0405 at 0x200"},
        {"HEX: bad checksum", bytesOf(":0100000001FE\n:0100010002FF\n"), {}, "line 2: bad checksum"},
        {"S-record: bad checksum", bytesOf("S00600004844521B\n\nS1050010AABB86\n"), {}, "line 3: bad checksum"},
        {"HEX: overlapping data", bytesOf(":0400100001020304E2\n:0100300000CF\n:01001200AA43\n"), {},
         "line 3: data at 0x00000012 overlaps the data of line 1"},
        {"HEX: data below --base", bytesOf(":0100300000CF\n:0100100000EF\n"), 0x20,
         "line 2: data at 0x00000010 lies below --base 0x00000020"},
        {"HEX: larger than the header can describe", bytesOf(":0100000000FF\n:020000040100F9\n:0100000000FF\n"), {},
         "the data from 0x00000000 to 0x01000000 makes an image of 16777217 bytes, larger than the image header"},
        {"HEX: a line that is no record", bytesOf(":0100000000FF\nhello\n"), {}, "line 2: an Intel HEX record starts with ':'"},
        {"HEX: count and length disagree", bytesOf(":0200000000FE\n"), {}, "line 1: the record's length"},
        {"HEX: unknown record type", bytesOf(":00000007F9\n"), {}, "line 1: unknown record type 7"},
        {"S-record: no data", bytesOf("S9030000FC\n"), {}, "the file holds no data"},
        {"ELF: no loadable data", elf32({{4, data, 0, 8}, {1, data, 0, 0}}), {}, "the ELF file has no loadable data"},
        {"ELF: segment past the end of the file", elf32({{4, 0, 0, 0}, {1, data, 0, 65}}), {},
         "segment 1: 65 bytes at file offset 116 run past the end of the file"},
        {"ELF: overlapping segments", elf32({{1, data, 0x100, 8}, {1, data, 0x104, 8}}), {},
         "segment 1: data at 0x00000104 overlaps the data of segment 0"},
    };
    for (const Case& c : cases) {
        std::string result;
        try {
            const Payload p = readPayload(c.file, std::nullopt, {c.base, 0xFF, 16 * 1024 * 1024});
            for (uint8_t b : p.bytes) result += "0123456789ABCDEF"[b >> 4], result += "0123456789ABCDEF"[b & 15];
            char start[32];
            std::snprintf(start, sizeof start, " at 0x%llX", static_cast<unsigned long long>(p.start));
            result += start;
        } catch (const PayloadError& e) {
            result = e.what();
        }
        EXPECT_EQ(result.substr(0, c.result.size()), c.result) << c.what << "\n" << result;
    }
}

TEST(PayloadFile, FormatByContentAndNeverAReadPastTheEnd) {
    EXPECT_EQ(detectPayloadFormat(elf32({})), PayloadFormat::Elf);
    EXPECT_EQ(detectPayloadFormat(bytesOf("\r\n:0100000000FF\n")), PayloadFormat::IntelHex);
    EXPECT_EQ(detectPayloadFormat(bytesOf("S00600004844521B\n")), PayloadFormat::SRecord);
    EXPECT_EQ(detectPayloadFormat(bytesOf(":-) not hex at all")), PayloadFormat::Binary);
    EXPECT_EQ(detectPayloadFormat({}), PayloadFormat::Binary);
    // A raw binary is taken as it stands, however it begins.
    const Payload raw = readPayload(bytesOf(":0100000000FF\n"), PayloadFormat::Binary, {0x100, 0, 100});
    EXPECT_EQ(raw.bytes, bytesOf(":0100000000FF\n"));
    EXPECT_EQ(raw.start, 0x100u);
    // Cut anywhere, an ELF file is refused or read, never read past its end.
    const std::vector<uint8_t> whole = elf32({{1, 52 + 64, 0x100, 64}, {1, 52 + 64, 0x200, 8}});
    for (size_t n = 0; n < whole.size(); ++n) {
        try {
            readElfSegments(std::span<const uint8_t>(whole.data(), n));
        } catch (const PayloadError&) {
        }
    }
}

}  // namespace
}  // namespace iap
