// usb-iap-pack: makes, inspects and skins the tool package of a USB IAP tool.
#include <iostream>
#include <string>
#include <vector>

#include "pack/pack_commands.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return iap::pack::runPackTool(args, std::cout, std::cerr);
}
