// The IAP engine stepped by hand against the simulated bootloader.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "link/exceptions.h"
#include "sim/sim_bus.h"
#include "upgrade/iap_engine.h"
#include "upgrade/sim_rig.h"

namespace iap {
namespace {

using testing::Rig;

struct Progress {
    uint32_t limit;
    uint32_t pos;
    int32_t state;
};

struct EngineRun {
    explicit EngineRun(Rig& rig, int32_t retryNum = 3)
        : engine(rig.connection, rig.state.firmware,
                 static_cast<uint16_t>(rig.state.firmware[66] | (rig.state.firmware[67] << 8)), retryNum,
                 100, 500, [this](IAPEngine& e) { progress.push_back({e.totalSize, e.ackedSize, e.state}); }) {}

    // Steps until false (or a limit); returns the number of calls.
    int upgrade(int limit = 100000) {
        int calls = 0;
        while (calls < limit) {
            ++calls;
            if (!engine.upgradeStep()) break;
        }
        return calls;
    }
    int toBoot(int limit = 1000) {
        int calls = 0;
        while (calls < limit) {
            ++calls;
            if (!engine.toBootStep()) break;
        }
        return calls;
    }

    IAPEngine engine;
    std::vector<Progress> progress;
};

std::vector<uint8_t> commandCodes(sim::SimDevice& device) {
    std::vector<uint8_t> codes;
    for (const auto& c : device.commands()) codes.push_back(c.code);
    return codes;
}

TEST(IAPEngine, TwoBlockTracePrintsEveryStepAndSendsTheReportsOfEachCommand) {
    Rig rig(300, 256);
    auto device = rig.attachBootloader();
    rig.open(device);
    EngineRun run(rig);

    ::testing::internal::CaptureStdout();
    const int calls = run.upgrade();
    const std::string out = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(calls, 10);
    EXPECT_EQ(out,
              "IAP status:0 32 64\nIAP status:1 32 64\nIAP status:1 32 65\n"
              "IAP status:1 33 64\nIAP status:1 33 65\nIAP status:1 33 64\n"
              "IAP status:1 33 65\nIAP status:1 34 64\nIAP status:1 34 65\n"
              "IAP status:3 36 64\n");
    // Header 3 reports, blocks of 267 and 55 bytes: 5 and 1, finish 1.
    EXPECT_EQ(device->outputReports().size(), 10u);
    EXPECT_EQ(device->inputReports().size(), 10u);
    ASSERT_EQ(commandCodes(*device), (std::vector<uint8_t>{0xA0, 0xA1, 0xA1, 0xA4}));
    const auto commands = device->commands();
    EXPECT_EQ(commands[1].pack.size(), 267u);
    EXPECT_EQ(commands[2].pack[3], 0xFF);  // last block number 0xFFFF
    EXPECT_EQ(commands[2].pack[4], 0xFF);
    EXPECT_EQ(commands[2].pack[5], 0x00);  // offset 256
    EXPECT_EQ(commands[2].pack[6], 0x01);
    EXPECT_EQ(commands[3].pack, (std::vector<uint8_t>{0xA4, 0x02, 0x00, 0xF4, 0x01, 0x61, 0xD3}));
    ASSERT_EQ(run.progress.size(), 4u);
    EXPECT_EQ(run.progress[0].pos, 0u);
    EXPECT_EQ(run.progress[1].pos, 256u);
    EXPECT_EQ(run.progress[2].pos, 300u);
    EXPECT_EQ(run.progress[3].pos, 300u);
    EXPECT_EQ(run.progress[3].state, IAPEngine::STATE_PASSED);
}

TEST(IAPEngine, ThousandBytePayloadTakesFourteenCallsAndFillsTheFlash) {
    Rig rig(1000, 256);
    auto device = rig.attachBootloader();
    rig.open(device);
    EngineRun run(rig);

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(run.upgrade(), 14);
    ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(run.engine.state, IAPEngine::STATE_PASSED);
    EXPECT_EQ(run.engine.blockCount, 4u);
    EXPECT_EQ(run.engine.lastBlockSize, 232);
    std::vector<uint32_t> positions;
    for (const auto& p : run.progress) {
        EXPECT_EQ(p.limit, 1000u);
        positions.push_back(p.pos);
    }
    EXPECT_EQ(positions, (std::vector<uint32_t>{0, 256, 512, 768, 1000, 1000}));
    auto flash = device->flash();
    flash.resize(rig.payload.size());
    EXPECT_EQ(flash, rig.payload);
    EXPECT_TRUE(device->upgradePassed());
}

TEST(IAPEngine, StatusErrorOnABlockFailsAtOnceWithoutProgress) {
    Rig rig(1000, 256);
    auto device = rig.attachBootloader();
    device->addFault(sim::Fault::statusAt(0xA1, 0xE2, 2));
    rig.open(device);
    EngineRun run(rig);
    ::testing::internal::CaptureStdout();
    const int calls = run.upgrade();
    ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(calls, 10);  // start, header 2, blocks 0 and 1: 4, block 2: 2, stop
    EXPECT_EQ(run.engine.state, IAPEngine::STATE_FAILED);
    EXPECT_EQ(run.engine.errorFlag, 1);
    EXPECT_EQ(run.engine.deviceStatus, 0xE2);
    ASSERT_EQ(run.progress.size(), 3u);  // header, block 0, block 1
    EXPECT_EQ(run.progress.back().pos, 512u);
    EXPECT_FALSE(run.engine.upgradeStep());
}

TEST(IAPEngine, RetryNumZeroEndsBothRunsAfterTheFirstResponse) {
    {
        Rig rig(1000, 256);
        auto device = rig.attachBootloader();
        rig.open(device);
        EngineRun run(rig, 0);
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(run.upgrade(), 4);
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(run.engine.state, IAPEngine::STATE_FAILED);
        EXPECT_EQ(run.engine.errorFlag, 0);
        EXPECT_EQ(run.progress.size(), 1u);
    }
    {
        Rig rig;
        auto device = rig.attachApplication();
        rig.open(device);
        EngineRun run(rig, 0);
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(run.toBoot(), 4);
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(run.engine.state, IAPEngine::STATE_FAILED);
        EXPECT_EQ(run.engine.errorFlag, 0);
    }
}

TEST(IAPEngine, SwitchRetriesARejectionUpToRetryNum) {
    {   // always rejected: retryNum commands, then failed with errorFlag 0
        Rig rig;
        auto device = rig.attachApplication();
        sim::Fault reject = sim::Fault::statusAt(0xC0, 0xE9);
        reject.repeat = true;
        device->addFault(reject);
        rig.open(device);
        EngineRun run(rig, 3);
        ::testing::internal::CaptureStdout();
        run.toBoot();
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(commandCodes(*device), (std::vector<uint8_t>{0xC0, 0xC0, 0xC0}));
        EXPECT_EQ(run.engine.state, IAPEngine::STATE_FAILED);
        EXPECT_EQ(run.engine.errorFlag, 0);
        EXPECT_EQ(run.engine.deviceStatus, 0xE9);
        EXPECT_TRUE(run.progress.empty());
    }
    {   // rejected once, then accepted: two commands, one progress call
        Rig rig;
        auto device = rig.attachApplication();
        device->addFault(sim::Fault::statusAt(0xC0, 0xE9));
        rig.open(device);
        EngineRun run(rig, 3);
        ::testing::internal::CaptureStdout();
        run.toBoot();
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(commandCodes(*device), (std::vector<uint8_t>{0xC0, 0xC0}));
        EXPECT_EQ(run.engine.state, IAPEngine::STATE_PASSED);
        ASSERT_EQ(run.progress.size(), 1u);
        EXPECT_EQ(run.progress[0].limit, 1000u);
        EXPECT_EQ(run.progress[0].state, IAPEngine::STATE_PASSED);
    }
}

TEST(IAPEngine, MissingAnswerLeavesTheStepRunning) {
    Rig rig(1000, 256);
    auto device = rig.attachBootloader();
    device->addFault(sim::Fault::atReport(sim::FaultKind::NoReply, 4));  // inside block 0
    rig.open(device);
    EngineRun run(rig);
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(run.upgrade(), timeout_exception);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(run.engine.state, IAPEngine::STATE_RUNNING);
    EXPECT_EQ(run.engine.step, IAPEngine::STEP_DATA);
}

TEST(IAPEngine, RefusesImagesOutsideItsLimits) {
    DeviceConnection connection;
    auto build = [&](std::vector<uint8_t> image, uint16_t blockSize) {
        IAPEngine engine(connection, std::move(image), blockSize, 3, 100, 0, nullptr);
    };
    EXPECT_THROW(build(std::vector<uint8_t>(128), 256), std::invalid_argument);
    EXPECT_THROW(build(std::vector<uint8_t>(129), 0), std::invalid_argument);
    EXPECT_THROW(build(std::vector<uint8_t>(129), 8193), std::invalid_argument);
    EXPECT_THROW(build(std::vector<uint8_t>(128 + 65536), 1), std::invalid_argument);
    EXPECT_NO_THROW(build(std::vector<uint8_t>(128 + 65535), 1));
    EXPECT_NO_THROW(build(std::vector<uint8_t>(129), 8192));
}

}  // namespace
}  // namespace iap
