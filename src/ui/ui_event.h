// One UI event: what a procedure tells the screen.
#pragma once

#include <cstdint>
#include <string>

namespace iap {

enum UIEventType : uint32_t {
    EVENT_MSG = 0x30,      // set msgPending, message into msgText
    EVENT_TIPS = 0x31,     // message into tipsText
    EVENT_DEVINFO = 0x32,  // vid, pid, bcdDevice into vidText, pidText, verText
    EVENT_EXIT = 0xF0,     // ends the UI thread
};

struct UIEvent {
    uint32_t eventType = 0;
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t bcdDevice = 0;
    std::string message;
};

}  // namespace iap
