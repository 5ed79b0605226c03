// The report-descriptor walks: first Report ID (0x85) and first two-byte
// Usage Page (0x06), stepping over items by their real size.
#include <gtest/gtest.h>

#include "link/descriptor.h"
#include "link_fixtures.h"
#include "sim/sim_bootloader.h"

namespace iap {
namespace {

TEST(Descriptor, WalksStepItemsByTheirRealSize) {
    const struct {
        const char* name;
        test::Bytes descriptor;
        int reportId;   // -1: no Report ID item
        int usagePage;  // -1: no two-byte Usage Page item
    } cases[] = {
        {"vendor descriptor", sim::vendorDescriptor(0x3F), 0x3F, 0xFF00},
        {"report ID first, two IDs",
         {0x85, 0x02, 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x03, 0x81, 0x02, 0xC0}, 0x02, 0xFF00},
        // A fixed step of 2 would swallow the 0x06 after End Collection.
        {"after end collection", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0, 0x06, 0x00, 0xFF, 0x85, 0x07}, 0x07, 0xFF00},
        // Logical Maximum with four data bytes that hold 0x85 0x02.
        {"four-byte item", {0x06, 0x00, 0xFF, 0x27, 0x00, 0x85, 0x02, 0x00, 0x85, 0x01}, 0x01, 0xFF00},
        // A two-byte local Usage (0x0A) whose data holds 0x06.
        {"two-byte local item", {0x0A, 0x00, 0x06, 0x06, 0x00, 0xFF, 0x85, 0x05}, 0x05, 0xFF00},
        // A long item (0xFE, size, tag, data) whose data looks like items.
        {"long item", {0xFE, 0x04, 0x10, 0x85, 0x09, 0x06, 0x01, 0x85, 0x04, 0x06, 0x00, 0xFF}, 0x04, 0xFF00},
        {"one-byte usage page", {0x05, 0x01, 0x85, 0x01}, 0x01, -1},
        {"empty", {}, -1, -1},
        {"no report ID", {0x06, 0x00, 0xFF, 0x09, 0x01, 0xC0}, -1, 0xFF00},
        {"truncated report ID", {0x06, 0x00, 0xFF, 0x85}, -1, 0xFF00},
        {"truncated usage page", {0x85, 0x01, 0x06, 0x00}, 0x01, -1},
        {"truncated long item", {0x85, 0x01, 0xFE, 0x10, 0x00, 0x06, 0x00, 0xFF}, 0x01, -1},
        {"long item without its header", {0x85, 0x01, 0xFE}, 0x01, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DescriptorFacts f = walkReportDescriptor(c.descriptor.data(), c.descriptor.size());
        EXPECT_EQ(f.hasReportId ? f.reportId : -1, c.reportId);
        EXPECT_EQ(f.hasUsagePage ? f.usagePage : -1, c.usagePage);
    }
}

}  // namespace
}  // namespace iap
