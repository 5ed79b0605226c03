// A package in a code-signed tool: found before the certificate table that
// the PE's security directory names, and nothing read from a hostile one.
#include <gtest/gtest.h>

#include <functional>

#include "bytes/byte_order.h"
#include "package/authenticode.h"
#include "package/package_format.h"
#include "support/test_packages.h"

namespace iap {
namespace {

constexpr size_t kPe = 0x80;                      // e_lfanew
constexpr size_t kOptional = kPe + 4 + 20;        // the optional header
constexpr size_t kTable = 0x100;                  // certificate table size

// The security directory entry of a PE32 (96 + 4 * 8) or PE32+ (112 + 4 * 8) file.
size_t securityEntry(bool pe32Plus) { return kOptional + (pe32Plus ? 144 : 128); }

// A 1 KiB PE whose package, `padding` zero bytes and a certificate table follow.
std::vector<uint8_t> signedTool(bool pe32Plus, size_t padding) {
    std::vector<uint8_t> f = test::fakeExecutable(1024);
    std::fill(f.begin(), f.begin() + 0x200, 0);
    f[0] = 'M', f[1] = 'Z';
    storeU32(&f[0x3C], kPe);
    f[kPe] = 'P', f[kPe + 1] = 'E';
    storeU16(&f[kPe + 4 + 16], pe32Plus ? 240 : 224);
    storeU16(&f[kOptional], pe32Plus ? 0x20B : 0x10B);
    storeU32(&f[kOptional + (pe32Plus ? 108 : 92)], 16);
    f = test::withPackage(f, test::testPackage());
    f.resize(f.size() + padding, 0);
    storeU32(&f[securityEntry(pe32Plus)], static_cast<uint32_t>(f.size()));
    storeU32(&f[securityEntry(pe32Plus) + 4], kTable);
    f.resize(f.size() + kTable, 0x30);  // stands for the PKCS#7 signature
    return f;
}

TEST(Authenticode, PackageBeforeTheCertificateTable) {
    using Change = std::function<void(std::vector<uint8_t>&)>;
    const auto at = [](size_t where, uint32_t value) {
        return Change([=](std::vector<uint8_t>& f) { storeU32(&f[where], value); });
    };
    const size_t entry = securityEntry(false);
    struct Case {
        const char* what;
        bool pe32Plus;
        size_t padding;
        Change change;
        bool table;    // certificateTable finds one
        bool package;  // and the package loads
    };
    const Case cases[] = {
        {"PE32, table right after the trailer", false, 0, nullptr, true, true},
        {"PE32+, padded to 8 bytes by the signer", true, 7, nullptr, true, true},
        {"no table: directory empty, table bytes trail", false, 0, at(entry, 0), false, false},
        {"eight bytes of padding", false, 8, nullptr, true, false},
        {"a non-zero byte before the table",
         false, 4, [](std::vector<uint8_t>& f) { f[f.size() - kTable - 2] = 1; }, true, false},
        {"table past the end of the file", false, 0,
         [](std::vector<uint8_t>& f) { storeU32(&f[securityEntry(false) + 4], uint32_t(f.size())); }, false, false},
        {"offset + size wraps 32 bits", false, 0, at(entry + 4, 0xFFFFFFF0u), false, false},
        {"e_lfanew past the end", false, 0, at(0x3C, 0xFFFFFFF0u), false, false},
        {"not PE\\0\\0", false, 0, at(kPe, 0x00004550u << 8), false, false},
        {"four directories only", false, 0, at(kOptional + 92, 4), false, false},
        {"optional header too short for the entry", false, 0, at(kPe + 4 + 16, 128), false, false},
        {"optional header past the end", false, 0, at(kPe + 4 + 16, 0xFFFF), false, false},
        {"unknown optional header magic", false, 0, at(kOptional, 0x107), false, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> f = signedTool(c.pe32Plus, c.padding);
        if (c.change) c.change(f);
        EXPECT_EQ(certificateTable(f).has_value(), c.table) << c.what;
        const PackageParse parse = parsePackage(f);
        EXPECT_EQ(parse.package.has_value(), c.package) << c.what << ": " << parse.error;
        EXPECT_EQ(trailerHeaderOffset(f) == std::optional<uint32_t>(1024), c.package) << c.what;
    }
    // Cut anywhere, a signed tool is never read past its end.
    const std::vector<uint8_t> whole = signedTool(true, 3);
    for (size_t n = 0; n < whole.size(); n += 7) {
        const std::span<const uint8_t> cut(whole.data(), n);
        if (const auto table = certificateTable(cut)) {
            EXPECT_LE(uint64_t{table->offset} + table->size, n);
        }
        EXPECT_LE(packageSpan(cut).size(), n);
    }
}

}  // namespace
}  // namespace iap
