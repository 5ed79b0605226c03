// usb-iap-tool: the tool on the machine's HID and USB stacks.
#include "app/shell.h"
#include "link/real_bus.h"

int main(int argc, char** argv) {
    // The bus outlives the shell's workers: it is released with the process.
    static iap::DeviceBus* bus = iap::makeRealBus().release();
    return iap::WinMain(argc, argv, *bus);
}
