// Two channels for what the floors say outside the log file, each going
// where the program points it:
//  - diagnostics: the loader's lines ("exe size:%d", the quoted path, the
//    five settings), discovery's ("reportId: %04X", "usage: %04X",
//    "report ID:%02X"), the engine's "IAP status:%d %d %d" on every step and
//    the UI thread's "event type" line. Standard output unless the program
//    says otherwise; the window keeps them there, byte for byte.
//  - warnings: what the user should know (the log went to another folder or
//    nowhere, a log that cannot rotate, a record that cannot be written,
//    the window drawn with an old OpenGL).
//    Standard error as "USB IAP tool: <text>" unless the program says
//    otherwise.
// A writer gets one whole line at a time and never two at once. While a
// channel goes nowhere its lines are not even formatted.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string_view>

namespace iap {

// Takes one line: a diagnostic line with its "\n", a warning's text without.
using LineWriter = std::function<void(std::string_view line)>;

class LineChannel {
public:
    explicit LineChannel(LineWriter writer) { set(std::move(writer)); }
    // The new writer (null: nowhere); returns the one before.
    LineWriter set(LineWriter writer);
    bool on() const { return on_.load(std::memory_order_relaxed); }
    void write(std::string_view line);

private:
    std::mutex mutex_;
    LineWriter writer_;
    std::atomic<bool> on_{false};
};

LineChannel& diagnostics();
LineChannel& warnings();

// The programs' usual writers: diagnostics on standard output (each line
// written whole and flushed), warnings on standard error.
LineWriter standardOutputLines();
LineWriter standardErrorWarnings();

// One diagnostic line, formatted as printf does ("\n" included).
[[gnu::format(printf, 1, 2)]] void diagnostic(const char* format, ...);
void warning(std::string_view text);

// Points a channel at a writer for a scope; the writer before comes back at its end.
class ChannelScope {
public:
    ChannelScope(LineChannel& channel, LineWriter writer) : channel_(channel), before_(channel.set(std::move(writer))) {}
    ~ChannelScope() { channel_.set(std::move(before_)); }
    ChannelScope(const ChannelScope&) = delete;
    ChannelScope& operator=(const ChannelScope&) = delete;

private:
    LineChannel& channel_;
    LineWriter before_;
};

}  // namespace iap
