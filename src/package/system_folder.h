// The machine's own settings for the tools, one folder for every user and
// service: /etc/usb-iap-tools on Linux, %ProgramData%\USB IAP tool on
// Windows (the ProgramData known folder, else the variable, else
// C:\ProgramData).
#pragma once

#include <filesystem>

namespace iap {

std::filesystem::path systemConfigFolder();

}  // namespace iap
