// The texts the screen shows, written by the UI thread and read by the render
// thread. Every access goes through one short lock, and the render thread
// works on a copy, so it never sees a half-written text and always sees
// msgPending together with the text it belongs to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace iap {

inline constexpr size_t kTextSize = 256;      // 255 bytes and the terminating zero
inline constexpr size_t kDeviceTextSize = 5;  // four hex digits and the zero

struct DisplayTexts {
    char tipsText[kTextSize] = {};
    char msgText[kTextSize] = {};
    bool msgPending = false;
    // Counts EVENT_MSG texts; lets the popup clear only the message it showed.
    uint32_t msgSerial = 0;
    char vidText[kDeviceTextSize] = {'0', '0', '0', '0', '\0'};
    char pidText[kDeviceTextSize] = {'0', '0', '0', '0', '\0'};
    char verText[kDeviceTextSize] = {'0', '0', '0', '0', '\0'};
};

// Copies text into a zero-terminated buffer of `size` bytes. A longer text is
// cut to size - 1 bytes at most, never inside a UTF-8 sequence.
void copyText(char* out, size_t size, std::string_view text);

class DisplayState {
public:
    // Render thread: a consistent copy of every text.
    DisplayTexts snapshot() const;

    // Render thread: the popup's OK. The variant with a serial clears the flag
    // only if no newer message arrived since the snapshot that was shown.
    void clearMsgPending();
    void clearMsgPending(uint32_t shownSerial);

    // UI thread.
    void setTips(std::string_view text);
    void setMsg(std::string_view text);
    void setDeviceInfo(uint16_t vid, uint16_t pid, uint16_t bcdDevice);

private:
    mutable std::mutex mutex;
    DisplayTexts texts;
};

}  // namespace iap
