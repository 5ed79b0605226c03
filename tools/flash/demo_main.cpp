// usb-iap-flash-demo: usb-iap-flash on the simulated bus, with a hub of
// eight simulated boards (ports 1-4.1 to 1-4.8, serial numbers SIM0001 to
// SIM0008) plugged in one after another at full-speed USB timing; the board
// on 1-4.6 answers a data block with a CRC error (status 0xE2). Any tool file
// whose package lists 1234:5679 (report ID 1) will do, such as the window's
// demo:
//   usb-iap-flash-demo line build/release/bin/usb-iap-tool-demo
// Only this program reads
//   IAP_DEMO_FAILING  the port 1-4.N of the failing board (default 6; 0: none)
// The log and the upgrade record are usb-iap-flash's, in the working folder.
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

#include "flash/console.h"
#include "flash/flash_cli.h"
#include "logging/logging.h"
#include "sim/demo_env.h"
#include "sim/sim_bus.h"

int main(int argc, char** argv) {
    using namespace iap;
    const flash::Console console = flash::openConsole();
    StopSignal stop;
    flash::onInterrupt([&stop] { stop.request(); });

    static sim::SimBus bus;  // outlives the plugging thread, which ends with the process
    const long failing = sim::envNumber("IAP_DEMO_FAILING", 6, 0, 8);
    std::thread([failing] {
        for (int port = 1; port <= 8; ++port) {
            sim::BootloaderConfig config;
            config.serialNumber = "SIM000" + std::to_string(port);
            auto board = std::make_shared<sim::SimDevice>(config);
            board->setPortChain("1-4." + std::to_string(port));
            board->setLatency(std::chrono::microseconds(0), true);
            board->setPowerOnMode(sim::Mode::Bootloader);
            if (port == failing) board->addFault(sim::Fault::statusAt(0xA1, 0xE2, 40));
            bus.attach(board);
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
        }
    }).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    std::unique_ptr<UpgradeRecord> record;
    flash::FlashIo io{bus, console.out, std::cerr, stop, flash::windowLog(record), console.terminal, console.width};
    const int code = flash::runFlashTool(std::vector<std::string>(argv + 1, argv + argc), io);
    console.out.flush();
    closeLoggers();
    return code;
}
