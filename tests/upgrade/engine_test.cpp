// The IAP engine stepped by hand against the simulated bootloader.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/packets.h"
#include "support/sim_rig.h"
#include "upgrade/iap_engine.h"

namespace iap {
namespace {

using test::Rig;
using Bytes = std::vector<uint8_t>;

struct Stepper {
    explicit Stepper(Rig& rig, int32_t retryNum = 3)
        : engine(rig.connection, rig.state.firmware, imageBlockSize(rig.state.firmware), retryNum, 100, 500,
                 [this](IAPEngine& e) {
                     positions.push_back(e.ackedSize);
                     lastState = e.state;
                 }) {}
    // Steps until a step returns false; the number of calls.
    int steps(bool toBoot = false) {
        ::testing::internal::CaptureStdout();
        int calls = 1;
        while ((toBoot ? engine.toBootStep() : engine.upgradeStep()) && calls < 100000) ++calls;
        printed = ::testing::internal::GetCapturedStdout();
        return calls;
    }
    IAPEngine engine;
    std::vector<uint32_t> positions;  // ackedSize at each progress call
    int32_t lastState = -1;           // state at the last progress call
    std::string printed;
};

Bytes codes(sim::SimDevice& device) {
    Bytes out;
    for (const auto& c : device.commands()) out.push_back(c.code);
    return out;
}

TEST(IAPEngine, TwoBlockTraceOfPrintedStatesReportsAndProgress) {
    Rig rig(300, 256);
    auto device = rig.attach();
    rig.open(device);
    Stepper run(rig);
    EXPECT_EQ(run.steps(), 10);
    EXPECT_EQ(run.printed,
              "IAP status:0 32 64\nIAP status:1 32 64\nIAP status:1 32 65\n"
              "IAP status:1 33 64\nIAP status:1 33 65\nIAP status:1 33 64\n"
              "IAP status:1 33 65\nIAP status:1 34 64\nIAP status:1 34 65\n"
              "IAP status:3 36 64\n");
    // Header 3 reports, blocks of 267 and 55 bytes: 5 and 1, finish 1.
    EXPECT_EQ(device->outputReports().size(), 10u);
    EXPECT_EQ(device->inputReports().size(), 10u);
    ASSERT_EQ(codes(*device), (Bytes{0xA0, 0xA1, 0xA1, 0xA4}));
    const auto commands = device->commands();
    EXPECT_EQ(commands[1].pack.size(), 267u);
    EXPECT_EQ(Bytes(commands[2].pack.begin() + 3, commands[2].pack.begin() + 7), (Bytes{0xFF, 0xFF, 0x00, 0x01}));
    EXPECT_EQ(commands[3].pack, (Bytes{0xA4, 0x02, 0x00, 0xF4, 0x01, 0x61, 0xD3}));
    EXPECT_EQ(run.positions, (std::vector<uint32_t>{0, 256, 300, 300}));
    EXPECT_EQ(run.lastState, IAPEngine::STATE_PASSED);
}

struct Outcome {
    const char* name;
    bool toBoot;
    int32_t retryNum;
    std::optional<sim::Fault> fault;
    int calls;
    int32_t state, errorFlag, deviceStatus;
    std::vector<uint32_t> positions;
    Bytes commands;
};

sim::Fault always(sim::Fault f) {
    f.repeat = true;
    return f;
}

TEST(IAPEngine, OutcomesOfAcceptanceStatusCodesAndTheRetryLimit) {
    constexpr int32_t F = IAPEngine::STATE_FAILED, P = IAPEngine::STATE_PASSED;
    const Outcome cases[] = {
        {"1000 bytes in blocks of 256", false, 3, std::nullopt, 14, P, 0, 0, {0, 256, 512, 768, 1000, 1000},
         {0xA0, 0xA1, 0xA1, 0xA1, 0xA1, 0xA4}},
        {"block 2 answered 0xE2", false, 3, sim::Fault::statusAt(0xA1, 0xE2, 2), 10, F, 1, 0xE2, {0, 256, 512},
         {0xA0, 0xA1, 0xA1, 0xA1}},
        {"upgrade, retryNum 0", false, 0, std::nullopt, 4, F, 0, 0, {0}, {0xA0}},
        {"switch, retryNum 0", true, 0, std::nullopt, 4, F, 0, 0, {0}, {0xC0}},
        {"switch always rejected", true, 3, always(sim::Fault::statusAt(0xC0, 0xE9)), 8, F, 0, 0xE9, {},
         {0xC0, 0xC0, 0xC0}},
        {"switch rejected once", true, 3, sim::Fault::statusAt(0xC0, 0xE9), 6, P, 0, 0, {0}, {0xC0, 0xC0}},
    };
    for (const Outcome& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        auto device = rig.attach(!c.toBoot);
        if (c.fault) device->addFault(*c.fault);
        rig.open(device);
        Stepper run(rig, c.retryNum);
        EXPECT_EQ(run.steps(c.toBoot), c.calls);
        EXPECT_EQ(run.engine.state, c.state);
        EXPECT_EQ(run.engine.errorFlag, c.errorFlag);
        EXPECT_EQ(run.engine.deviceStatus, c.deviceStatus);
        EXPECT_EQ(run.positions, c.positions);
        EXPECT_EQ(codes(*device), c.commands);
    }
}

TEST(IAPEngine, RefusesImagesOutsideItsLimits) {
    DeviceConnection connection;
    EXPECT_THROW(IAPEngine(connection, Bytes(128), 256, 3, 100, 0, nullptr), std::invalid_argument);
    EXPECT_THROW(IAPEngine(connection, Bytes(129), 0, 3, 100, 0, nullptr), std::invalid_argument);
}

}  // namespace
}  // namespace iap
