#include "ui/display_state.h"

#include <cstdio>
#include <cstring>

namespace iap {

void copyText(char* out, size_t size, std::string_view text) {
    if (size == 0) {
        return;
    }
    size_t length = text.size();
    if (length > size - 1) {
        length = size - 1;
        // Back up over UTF-8 continuation bytes so that the cut falls on the
        // start of a character.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

DisplayTexts DisplayState::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex);
    return texts;
}

void DisplayState::clearMsgPending() {
    std::lock_guard<std::mutex> lock(mutex);
    texts.msgPending = false;
}

void DisplayState::clearMsgPending(uint32_t shownSerial) {
    std::lock_guard<std::mutex> lock(mutex);
    if (texts.msgSerial == shownSerial) {
        texts.msgPending = false;
    }
}

void DisplayState::setTips(std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex);
    copyText(texts.tipsText, sizeof texts.tipsText, text);
}

void DisplayState::setMsg(std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex);
    texts.msgPending = true;
    ++texts.msgSerial;
    copyText(texts.msgText, sizeof texts.msgText, text);
}

void DisplayState::setDeviceInfo(uint16_t vid, uint16_t pid, uint16_t bcdDevice) {
    std::lock_guard<std::mutex> lock(mutex);
    std::snprintf(texts.vidText, sizeof texts.vidText, "%04X", static_cast<unsigned>(vid));
    std::snprintf(texts.pidText, sizeof texts.pidText, "%04X", static_cast<unsigned>(pid));
    std::snprintf(texts.verText, sizeof texts.verText, "%04X", static_cast<unsigned>(bcdDevice));
}

}  // namespace iap
