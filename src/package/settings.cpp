#include "package/settings.h"

namespace iap {

std::string settingsProblem(const Settings& settings) {
    const struct {
        const char* name;
        uint32_t value;
    } timeouts[] = {{"searchDeviceTimeout", settings.searchDeviceTimeout},
                    {"readAckTimeout", settings.readAckTimeout}};
    for (const auto& t : timeouts) {
        if (t.value > kMaxTimeoutMs) {
            return std::string(t.name) + " " + std::to_string(t.value) + " is " +
                   std::to_string(static_cast<int32_t>(t.value)) +
                   " ms as the tool reads it; a time-out must be 0 to 2147483647 ms";
        }
    }
    return {};
}

}  // namespace iap
