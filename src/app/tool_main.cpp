// usb-iap-tool: the tool on the machine's HID and USB stacks.
#include "app/process_entry.h"
#include "app/shell.h"
#include "link/real_bus.h"

namespace {

int runTool(int argc, char** argv, int showCommand) {
    // The bus outlives the shell's workers: it is released with the process.
    static iap::DeviceBus* bus = iap::makeRealBus().release();
    return iap::WinMain(argc, argv, *bus, showCommand);
}

}  // namespace

IAP_PROCESS_ENTRY(runTool)
