// usb-iap-flash on the machine's HID and USB stacks.
#include <iostream>
#include <memory>

#include "flash/console.h"
#include "flash/flash_cli.h"
#include "link/real_bus.h"
#include "logging/logging.h"

int main(int argc, char** argv) {
    using namespace iap;
    const flash::Console console = flash::openConsole();
    StopSignal stop;
    flash::onInterrupt([&stop] { stop.request(); });
    const std::unique_ptr<DeviceBus> bus = makeRealBus();
    std::unique_ptr<UpgradeRecord> record;
    flash::FlashIo io{*bus, console.out, std::cerr, stop, flash::windowLog(record), console.terminal, console.width};
    const int code = flash::runFlashTool(std::vector<std::string>(argv + 1, argv + argc), io);
    console.out.flush();
    closeLoggers();
    return code;
}
