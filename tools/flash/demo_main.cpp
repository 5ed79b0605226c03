// usb-iap-flash-demo: usb-iap-flash on the simulated bus, with a hub of
// eight simulated boards (ports 1-4.1 to 1-4.8) plugged in one after another
// at full-speed USB timing; the board on 1-4.6 answers a data block with a
// CRC error. Any tool file whose package lists 1234:5679 (report ID 1) will
// do, such as the window's demo:
//   usb-iap-flash-demo line build/release/bin/usb-iap-tool-demo
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

#include "flash/console.h"
#include "flash/flash_cli.h"
#include "sim/sim_bus.h"

int main(int argc, char** argv) {
    using namespace iap;
    const flash::Console console = flash::openConsole();
    StopSignal stop;
    flash::onInterrupt([&stop] { stop.request(); });

    static sim::SimBus bus;  // outlives the plugging thread, which ends with the process
    std::thread([] {
        for (int port = 1; port <= 8; ++port) {
            auto board = std::make_shared<sim::SimDevice>();
            board->setPortChain("1-4." + std::to_string(port));
            board->setLatency(std::chrono::microseconds(0), true);
            board->setPowerOnMode(sim::Mode::Bootloader);
            if (port == 6) board->addFault(sim::Fault::statusAt(0xA1, 0xE2, 40));
            bus.attach(board);
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
        }
    }).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    flash::FlashIo io{bus, console.out, std::cerr, stop, nullptr, console.terminal, console.width};
    const int code = flash::runFlashTool(std::vector<std::string>(argv + 1, argv + argc), io);
    console.out.flush();
    return code;
}
