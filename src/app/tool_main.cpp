// usb-iap-tool: the tool on the machine's HID and USB stacks.
#include "app/shell.h"
#include "link/real_bus.h"

int main(int argc, char** argv) {
    std::unique_ptr<iap::DeviceBus> bus = iap::makeRealBus();
    // The bus outlives the shell's workers: it is released with the process.
    return iap::WinMain(argc, argv, *bus.release());
}
