// usb-iap-tool-demo: the same tool on the simulated bus, with simulated
// devices in place of real ones. Only this program reads these variables:
//   IAP_DEMO_DEVICES     devices on the line (default 1, at most 8): one is
//                        plugged in at a time; once it has passed its upgrade
//                        it is unplugged and the next one is plugged in
//   IAP_DEMO_BOOT        1: the devices arrive in their bootloader
//                        (default: in their application, so "ToBoot" first)
//   IAP_DEMO_LATENCY_US  delay of each device answer (default 1500)
#include <chrono>
#include <memory>
#include <thread>

#include "app/process_entry.h"
#include "app/shell.h"
#include "sim/demo_env.h"
#include "sim/sim_bus.h"

namespace {

using namespace std::chrono_literals;

using iap::sim::envNumber;

struct DemoLine {
    iap::sim::SimBus* bus = nullptr;
    long devices = 1;
    bool boot = false;
    long latencyUs = 1500;

    std::shared_ptr<iap::sim::SimDevice> plugIn(long index) {
        iap::sim::BootloaderConfig config;
        config.mode = boot ? iap::sim::Mode::Bootloader : iap::sim::Mode::Application;
        config.bcdDevice = static_cast<uint16_t>(0x0100 + index);
        auto device = bus->attach(config);
        device->setLatency(std::chrono::microseconds(latencyUs));
        return device;
    }

    // The operator's hands: unplug a passed device, plug in the next one.
    void runAfterFirst(std::shared_ptr<iap::sim::SimDevice> device) {
        for (long next = 1; next < devices; ++next) {
            while (!device->upgradePassed()) std::this_thread::sleep_for(50ms);
            std::this_thread::sleep_for(300ms);
            bus->detach(device);
            std::this_thread::sleep_for(300ms);
            device = plugIn(next);
        }
    }
};

int runDemo(int argc, char** argv, int showCommand) {
    // Never destroyed: the shell's workers may use them until the process ends.
    static auto* bus = new iap::sim::SimBus;
    static auto* line = new DemoLine;
    line->bus = bus;
    line->devices = envNumber("IAP_DEMO_DEVICES", 1, 0, 8);
    line->boot = envNumber("IAP_DEMO_BOOT", 0, 0, 1) == 1;
    line->latencyUs = envNumber("IAP_DEMO_LATENCY_US", 1500, 0, 1000000);
    if (line->devices >= 1) {
        auto first = line->plugIn(0);
        if (line->devices > 1) std::thread([first] { line->runAfterFirst(first); }).detach();
    }
    return iap::WinMain(argc, argv, *bus, showCommand);
}

}  // namespace

IAP_PROCESS_ENTRY(runDemo)
