// usb-iap-fleet on the machine's network.
#include <iostream>

#include "flash/console.h"
#include "fleet_cli/fleet_cli.h"

int main(int argc, char** argv) {
    using namespace iap;
    const flash::Console console = flash::openConsole();
    fleet_cli::StopHub stop;
    flash::onInterrupt([&stop] { stop.request(); });
    fleet_cli::CliIo io{console.out, std::cerr, stop};
    const int code = fleet_cli::runFleetTool(std::vector<std::string>(argv + 1, argv + argc), io);
    console.out.flush();
    return code;
}
