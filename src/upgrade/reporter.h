// How a procedure tells the person running it what happens: the status text
// (tips), the result message, the numbers of a device, and progress. The
// window implements it with its UI event queue and the progress bar's two
// values; a command-line program with its own output.
#pragma once

#include <cstdint>
#include <string_view>

namespace iap {

class Reporter {
public:
    virtual ~Reporter() = default;
    virtual void postTips(std::string_view text) = 0;
    virtual void postMsg(std::string_view text) = 0;
    virtual void postDeviceInfo(uint16_t vid, uint16_t pid, uint16_t bcdDevice) = 0;
    // Payload bytes accepted so far (pos) of limit.
    virtual void setProgress(uint32_t limit, uint32_t pos) = 0;
};

}  // namespace iap
