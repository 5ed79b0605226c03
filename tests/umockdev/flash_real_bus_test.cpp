// usb-iap-flash on the machine's stacks (hidapi hidraw, libudev, sysfs)
// against emulated devices on a hub: the port chain read from the sysfs
// tree, several devices written at once through the real hidapi, and the
// switch to boot with devices that come back under a new node on their port.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "emulated_device.h"
#include "link/real_bus.h"
#include "support/flash_rig.h"
#include "testbed.h"

namespace iap::umock {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

Testbed& testbed() {
    static Testbed bed;  // one per process
    return bed;
}

// The real stack takes its own time to bring a restarted board back (uevents,
// udev's database, hidraw's node; several times longer under the sanitizers),
// so the margins are the station's own rather than the simulated bus's short ones.
struct RealRig : test::FlashRig {
    RealRig() : FlashRig(40000), real(makeRealBus()) {
        target = real.get();
        timing.leaveMargin = std::chrono::milliseconds(1000);
        timing.returnMargin = std::chrono::milliseconds(3000);
        timing.openGrace = std::chrono::milliseconds(500);
    }
    std::unique_ptr<DeviceBus> real;
};

std::vector<std::unique_ptr<EmulatedDevice>> plugHub(const std::string& hub, int count, sim::Mode mode) {
    std::vector<std::unique_ptr<EmulatedDevice>> devices;
    for (int i = 1; i <= count; ++i) {
        sim::BootloaderConfig config = deviceConfig(mode);
        config.serialNumber = "SN-" + hub + "." + std::to_string(i);
        devices.push_back(std::make_unique<EmulatedDevice>(testbed(), config, 0.1, hub + "." + std::to_string(i)));
    }
    return devices;
}

TEST(RealBusFlash, FourDevicesOnAHubAtOnceByteExact) {
    RealRig rig;
    auto devices = plugHub("1-4", 4, sim::Mode::Bootloader);

    EXPECT_EQ(rig.run("list", {"--json"}), 0);
    EXPECT_EQ(rig.jq(R"jq(select(.event=="found") | "\(.port) \(.pid) \(.serial) \(.ready)")jq"),
              (Lines{"1-4.1 5679 SN-1-4.1 true", "1-4.2 5679 SN-1-4.2 true", "1-4.3 5679 SN-1-4.3 true",
                     "1-4.4 5679 SN-1-4.4 true"}));

    EXPECT_EQ(rig.run("flash", {"--all", "--json"}), 0) << rig.errText.text();
    Lines results = rig.jq(R"jq(select(.event=="result") | "\(.port) \(.outcome) \(.serial)")jq");
    std::sort(results.begin(), results.end());
    EXPECT_EQ(results, (Lines{"1-4.1 passed SN-1-4.1", "1-4.2 passed SN-1-4.2", "1-4.3 passed SN-1-4.3",
                              "1-4.4 passed SN-1-4.4"}));
    for (auto& device : devices) {
        ASSERT_TRUE(device->waitForMode(sim::Mode::Application, 3s));
        EmulatedDevice::State s = device->state();
        s.flash.resize(rig.payload.size());
        EXPECT_EQ(s.flash, rig.payload) << s.port;
        EXPECT_TRUE(s.upgradePassed);
    }
}

TEST(RealBusFlash, ToBootDevicesComeBackOnANewNodeOfTheirPort) {
    RealRig rig;
    auto devices = plugHub("1-5", 2, sim::Mode::Application);
    std::vector<std::string> nodes;
    for (auto& d : devices) nodes.push_back(d->state().node);

    EXPECT_EQ(rig.run("flash", {"--all", "--to-boot", "--port", "1-5.2", "--port", "1-5.1", "--json"}), 0)
        << rig.outText.text();
    for (size_t i = 0; i < devices.size(); ++i) {
        const std::string port = "1-5." + std::to_string(i + 1);
        SCOPED_TRACE(port);
        const Lines found = rig.jq(R"jq(select(.event=="found" and .port==")jq" + port + R"jq(") | "\(.pid) \(.path)")jq");
        ASSERT_EQ(found.size(), 2u);
        EXPECT_EQ(found[0], "5678 " + nodes[i]);  // the application, then the bootloader elsewhere
        EXPECT_EQ(found[1].substr(0, 5), "5679 ");
        EXPECT_NE(found[1], "5679 " + nodes[i]);
        ASSERT_TRUE(devices[i]->waitForMode(sim::Mode::Application, 3s));
        EmulatedDevice::State s = devices[i]->state();
        s.flash.resize(rig.payload.size());
        EXPECT_EQ(s.flash, rig.payload);
        EXPECT_EQ(s.plugs, 3u);  // application, bootloader, the new application
        EXPECT_EQ(s.port, port);
    }
}

}  // namespace
}  // namespace iap::umock

// Under ThreadSanitizer, the harness shares the process with the code under
// test and races with it inside libraries that are not ours: libumockdev with
// its own worker thread when the testbed adds a device (add_from_string
// against the worker's g_strdup of the record), the preload library's file
// wrappers (fstat) with its socket thread, and libudev's process-wide random
// pool, which the emulated devices' uevents and hidapi's enumeration (one at
// a time among themselves, by the station's bus) both draw from. The ioctl
// socket that libumockdev listens on (through GIO, from the thread that plugs
// a device) and accepts on in its own worker reuses descriptor numbers that
// the sanitizer tracks as one object. Nothing of hidapi or of our own code
// is suppressed.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libumockdev.so\nrace:libumockdev-preload.so\nrace:libudev.so\nrace:libgio-2.0.so\n";
}

int main(int argc, char** argv) {
    const bool listing = std::any_of(argv + 1, argv + argc, [](const char* arg) {
        return std::string(arg) == "--gtest_list_tests";
    });
    if (!listing && iap::umock::enterTestbedProcess(argv) != 0) return 1;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
