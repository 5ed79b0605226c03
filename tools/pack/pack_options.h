// Command-line options of `usb-iap-pack build`.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bytes/firmware_image.h"
#include "link/device_id.h"
#include "package/settings.h"
#include "package/skin.h"
#include "package/package_format.h"
#include "package/payload_file.h"

namespace CLI {
class App;
}

namespace iap::pack {

// A command line that cannot be understood; the message names the option.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The settings of a new package unless the command line changes them.
inline constexpr Settings kDefaultSettings{.retryNum = 3,
                                           .rebootDelay = 1000,
                                           .switchDelay = 1000,
                                           .searchDeviceTimeout = 8000,
                                           .readAckTimeout = 5000};

struct BuildOptions {
    std::filesystem::path exe;                     // empty: the installed bare tool
    std::filesystem::path out;
    std::optional<std::filesystem::path> payload;  // payload file: header is built
    std::optional<PayloadFormat> payloadFormat;    // by content when absent
    PayloadLayout payloadLayout;                   // --base, --fill (maxSize set by build)
    std::optional<std::filesystem::path> image;    // ready-made firmware image
    ImageHeaderFields header;
    std::vector<DeviceIdEntry> devices;            // in command-line order
    Settings settings = kDefaultSettings;
    std::vector<Colour> colours;                   // the ten defaults unless changed
    std::optional<std::filesystem::path> skinDir;  // built-in skin when absent
    bool replace = false;
};

// Adds the options of `build` to its subcommand. The function returned
// gives them, converted and checked, once the command line is parsed;
// it throws UsageError naming the option that is wrong.
std::function<BuildOptions()> addBuildOptions(CLI::App& build);

// "VID:PID:RID", each part hexadecimal (optionally 0x-prefixed).
DeviceIdEntry parseDeviceId(const std::string& text);

// "i=r,g,b,a" with i from 0 to 9 and each component from 0 to 1.
std::pair<size_t, Colour> parseColour(const std::string& text);

}  // namespace iap::pack
