#include "logging/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace iap {

LineWriter LineChannel::set(LineWriter writer) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(writer, writer_);
    on_.store(static_cast<bool>(writer_), std::memory_order_relaxed);
    return writer;
}

void LineChannel::write(std::string_view line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (writer_) writer_(line);
}

LineChannel& diagnostics() {
    static LineChannel channel(standardOutputLines());
    return channel;
}

LineChannel& warnings() {
    static LineChannel channel(standardErrorWarnings());
    return channel;
}

LineWriter standardOutputLines() {
    return [](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    };
}

LineWriter standardErrorWarnings() {
    return [](std::string_view text) {
        std::string line = "USB IAP tool: ";
        line.append(text).push_back('\n');
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);  // the Windows C runtime buffers a redirected stderr
    };
}

void diagnostic(const char* format, ...) {
    LineChannel& channel = diagnostics();
    if (!channel.on()) return;
    char text[256];
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length >= 0 && static_cast<size_t>(length) < sizeof text) {
        channel.write(std::string_view(text, static_cast<size_t>(length)));
    } else if (length > 0) {
        std::string longer(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(longer.data(), longer.size(), format, again);
        longer.pop_back();
        channel.write(longer);
    }
    va_end(again);
}

void warning(std::string_view text) {
    LineChannel& channel = warnings();
    if (channel.on()) channel.write(text);
}

}  // namespace iap
