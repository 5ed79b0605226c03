// What an upgrade needs of the tool package: the firmware image, the device
// IDs and the five settings, and the tool file they came from. The upgrade
// and station floors use this much; the window's skin is apart (skin.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "link/device_id.h"
#include "package/settings.h"

namespace iap {

struct UpgradeContent {
    std::filesystem::path executablePath;  // the tool file (the record's tool column)
    std::vector<uint8_t> firmware;
    std::vector<DeviceIdEntry> deviceIds;
    Settings settings;
    std::string signer;  // fingerprint of the package's valid signature, or empty
};

}  // namespace iap
