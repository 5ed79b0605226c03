// The simulated device in real time: restarts after switchDelay, the latency
// model, and a bus used from two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "link/connection.h"
#include "link/discovery.h"
#include "link/exceptions.h"
#include "link/packets.h"
#include "sim/sim_bus.h"
#include "test_image.h"

namespace iap {
namespace {

using Clock = std::chrono::steady_clock;

DeviceIdEntry entry(uint16_t pid) {
    DeviceIdEntry e;
    e.vendorId = 0x1234;
    e.productId = pid;
    e.reportId = 0x01;
    return e;
}

TEST(SimTiming, SwitchToBootThenUpgradeThenBackToTheApplication) {
    sim::SimBus bus;
    sim::BootloaderConfig config;
    config.mode = sim::Mode::Application;
    config.bcdDevice = 0x0100;
    auto device = bus.attach(config);
    device->setTimeScale(0.1);  // 1000 ms switchDelay -> 100 ms
    std::atomic<bool> cancelled{false};

    DeviceConnection connection;
    SearchDevice(bus, {entry(0x5678)}, 1000, connection.record, cancelled);
    ASSERT_TRUE(connection.record.isOpen());
    const std::string appPath = device->path();
    EXPECT_EQ(test::transact(connection, buildToBootCommand(connection.request(), 1000)), 0);
    EXPECT_EQ(device->mode(), sim::Mode::Application);
    device->waitForRestart(std::chrono::milliseconds(2000));
    EXPECT_EQ(device->mode(), sim::Mode::Bootloader);
    EXPECT_EQ(device->productId(), 0x5679);
    EXPECT_NE(device->path(), appPath);  // a new node
    // The old handle is dead after the restart.
    const uint8_t pack[7] = {};
    EXPECT_THROW(connection.exchange(pack, 7, 0, true, 10), std::runtime_error);
    connection.record.close();

    SearchDevice(bus, {entry(0x5678), entry(0x5679)}, 1000, connection.record, cancelled);
    ASSERT_TRUE(connection.record.isOpen());
    const std::vector<uint8_t> image = test::makeImage({2000, 512, "IAPIMAGE", "V3.1.4"});
    EXPECT_EQ(test::upgrade(connection, image, 500), 0);
    device->waitForRestart(std::chrono::milliseconds(2000));
    EXPECT_EQ(device->mode(), sim::Mode::Application);
    EXPECT_EQ(device->bcdDevice(), 0x0314);
    const auto usb = bus.usbDevices();
    ASSERT_EQ(usb.size(), 1u);
    EXPECT_EQ(usb[0].idProduct, 0x5678);
    EXPECT_EQ(usb[0].bcdDevice, 0x0314);
}

TEST(SimTiming, EveryReportWaitsForTheNextUsbFrame) {
    sim::SimBus bus;
    auto device = bus.attach();
    device->setLatency(std::chrono::microseconds(1000), true);
    DeviceConnection connection;
    connection.record.handle = bus.openPath(device->path());
    connection.record.reportId = 0x01;
    const auto start = Clock::now();
    EXPECT_EQ(test::upgrade(connection, test::makeImage({56 * 40, 56})), 0);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    const size_t reports = device->outputReports().size();
    EXPECT_GE(static_cast<size_t>(took), reports);  // at least 1 ms per report
    const auto traffic = device->traffic();
    for (size_t i = 1; i < traffic.size(); ++i) {
        if (!traffic[i].output) {
            EXPECT_GE(traffic[i].time - traffic[i - 1].time, std::chrono::microseconds(1000));
        }
    }
}

TEST(SimTiming, ReadsWaitForTheirReplyAndTimeOut) {
    sim::SimBus bus;
    auto device = bus.attach();
    device->setLatency(std::chrono::microseconds(30000));
    DeviceConnection connection;
    connection.record.handle = bus.openPath(device->path());
    connection.record.reportId = 0x01;
    uint8_t pack[7];
    buildFinishCommand(pack, 0);
    device->addFault(sim::Fault::atReport(sim::FaultKind::NoReply, 0));
    const auto start = Clock::now();
    EXPECT_THROW(connection.exchange(pack, 7, 0, true, 60), timeout_exception);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
    EXPECT_THROW(connection.exchange(pack, 7, 0, true, 5), timeout_exception);  // reply after 30 ms
    // The late reply is still delivered, to the next read.
    EXPECT_GT(connection.exchange(pack, 7, 0, true, 100), 0);
    EXPECT_EQ(connection.receiveBusinessPack(100), 7u);
    EXPECT_EQ(connection.response()[1], 0xE9);  // finish before any header
}

TEST(SimTiming, DevicesComeAndGoWhileTheBusIsInUse) {
    sim::SimBus bus;
    auto busy = bus.attach();
    DeviceConnection connection;
    connection.record.reportId = 0x01;
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        while (!stop) {
            auto extra = bus.attach();
            bus.enumerate();
            bus.detach(extra);
        }
    });
    // Each round: reopen after the restart, switch to the bootloader when
    // the device runs its application, upgrade (which restarts it again).
    std::string failure;
    try {
        for (int i = 0; i < 4; ++i) {
            busy->waitForRestart(std::chrono::milliseconds(1000));
            connection.record.handle = bus.openPath(busy->path());
            if (busy->mode() == sim::Mode::Application) {
                EXPECT_EQ(test::transact(connection, buildToBootCommand(connection.request(), 0)), 0);
                busy->waitForRestart(std::chrono::milliseconds(1000));
                connection.record.handle = bus.openPath(busy->path());
            }
            EXPECT_EQ(test::upgrade(connection, test::makeImage({3000, 256})), 0);
        }
    } catch (const std::exception& e) {
        failure = e.what();
    }
    stop = true;
    churn.join();
    EXPECT_EQ(failure, "");
    EXPECT_EQ(bus.devices().size(), 1u);
    EXPECT_EQ(busy->commands().size(), 4u * 14u + 3u);
}

}  // namespace
}  // namespace iap
