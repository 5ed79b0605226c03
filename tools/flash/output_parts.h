// What the three outputs share: percentages, rates and whole-line writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <ostream>
#include <string>

namespace iap::flash {

inline double percentOf(uint32_t bytes, uint32_t total) {
    return total == 0 ? 0.0 : 100.0 * static_cast<double>(bytes) / static_cast<double>(total);
}

inline std::string rateText(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond <= 0) return "";
    if (bytesPerSecond >= 1e6) std::snprintf(text, sizeof text, "%.2f MB/s", bytesPerSecond / 1e6);
    else std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1e3);
    return text;
}

// Serialises writers; a line goes out whole and at once.
class LockedWriter {
protected:
    explicit LockedWriter(std::ostream& out) : out_(out) {}
    void writeLine(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        out_ << line << '\n';
        out_.flush();
    }
    std::mutex mutex_;
    std::ostream& out_;
};

}  // namespace iap::flash
