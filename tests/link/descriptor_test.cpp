// The report-descriptor walk: first Report ID and first two-byte Usage Page,
// stepping over items by their real size.
#include <gtest/gtest.h>

#include <vector>

#include "link/descriptor.h"
#include "sim/sim_bootloader.h"

namespace iap {
namespace {

using Bytes = std::vector<uint8_t>;

DescriptorFacts walk(const Bytes& d) { return walkReportDescriptor(d.data(), d.size()); }

// The walk that steps every item by 3 bytes when its low nibble is 6 and by
// 2 bytes otherwise, kept here to show where the two walks part.
DescriptorFacts fixedStepWalk(const Bytes& d) {
    DescriptorFacts f;
    for (size_t i = 0; i < d.size(); i += (d[i] & 0x0F) == 6 ? 3 : 2) {
        if (d[i] == 0x85 && !f.hasReportId && i + 1 < d.size()) {
            f.hasReportId = true;
            f.reportId = d[i + 1];
        }
        if (d[i] == 0x06 && !f.hasUsagePage && i + 2 < d.size()) {
            f.hasUsagePage = true;
            f.usagePage = static_cast<uint16_t>(d[i + 1] | (d[i + 2] << 8));
        }
    }
    return f;
}

void expectFacts(const DescriptorFacts& f, bool hasId, uint8_t id, bool hasPage, uint16_t page) {
    EXPECT_EQ(f.hasReportId, hasId);
    if (hasId) {
        EXPECT_EQ(f.reportId, id);
    }
    EXPECT_EQ(f.hasUsagePage, hasPage);
    if (hasPage) {
        EXPECT_EQ(f.usagePage, page);
    }
}

TEST(Descriptor, UsualVendorDescriptorsGiveTheSameAnswerBothWays) {
    const std::vector<Bytes> usual = {
        sim::vendorDescriptor(0x01),
        sim::vendorDescriptor(0x3F),
        // Report ID before the usage page, usage in a second collection.
        {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x09, 0x02, 0x75, 0x08, 0x95, 0x3F,
         0x81, 0x02, 0x85, 0x03, 0x09, 0x03, 0x91, 0x02, 0xC0},
    };
    for (const Bytes& d : usual) {
        const DescriptorFacts real = walk(d);
        const DescriptorFacts fixed = fixedStepWalk(d);
        EXPECT_TRUE(real.hasReportId);
        EXPECT_TRUE(real.hasUsagePage);
        EXPECT_EQ(real.reportId, fixed.reportId);
        EXPECT_EQ(real.usagePage, fixed.usagePage);
        EXPECT_EQ(real.usagePage, 0xFF00);
    }
    expectFacts(walk(sim::vendorDescriptor(0x3F)), true, 0x3F, true, 0xFF00);
}

TEST(Descriptor, ItemsOfOtherSizesAreSteppedByTheirRealSize) {
    // End Collection (no data) followed by a usage page: the fixed step
    // would swallow the 0x06.
    const Bytes afterEndCollection = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0,
                                      0x06, 0x00, 0xFF, 0x85, 0x07};
    expectFacts(walk(afterEndCollection), true, 0x07, true, 0xFF00);
    EXPECT_FALSE(fixedStepWalk(afterEndCollection).hasUsagePage);

    // Logical Maximum with four data bytes whose data holds 0x85 0x02.
    const Bytes fourByteItem = {0x06, 0x00, 0xFF, 0x27, 0x00, 0x85, 0x02, 0x00, 0x85, 0x01};
    expectFacts(walk(fourByteItem), true, 0x01, true, 0xFF00);
    EXPECT_EQ(fixedStepWalk(fourByteItem).reportId, 0x02);

    // A two-byte local Usage (0x0A) whose data holds 0x06.
    const Bytes twoByteLocal = {0x0A, 0x00, 0x06, 0x06, 0x00, 0xFF, 0x85, 0x05};
    expectFacts(walk(twoByteLocal), true, 0x05, true, 0xFF00);
    EXPECT_NE(fixedStepWalk(twoByteLocal).usagePage, 0xFF00);

    // A long item (0xFE, size, tag, data) whose data looks like items.
    const Bytes longItem = {0xFE, 0x04, 0x10, 0x85, 0x09, 0x06, 0x01, 0x85, 0x04, 0x06, 0x00, 0xFF};
    expectFacts(walk(longItem), true, 0x04, true, 0xFF00);

    // A one-byte usage page (0x05) is not the two-byte item the walk wants.
    expectFacts(walk({0x05, 0x01, 0x85, 0x01}), true, 0x01, false, 0);
}

TEST(Descriptor, TruncatedAndMissingItems) {
    expectFacts(walk({}), false, 0, false, 0);
    expectFacts(walk({0x06, 0x00, 0xFF, 0x09, 0x01, 0xC0}), false, 0, true, 0xFF00);
    expectFacts(walk({0x06, 0x00, 0xFF, 0x85}), false, 0, true, 0xFF00);  // ID byte missing
    expectFacts(walk({0x85, 0x01, 0x06, 0x00}), true, 0x01, false, 0);    // page byte missing
    expectFacts(walk({0x85, 0x01, 0xFE, 0x10, 0x00, 0x06, 0x00, 0xFF}), true, 0x01, false, 0);
    expectFacts(walk({0x85, 0x01, 0xFE}), true, 0x01, false, 0);
}

}  // namespace
}  // namespace iap
