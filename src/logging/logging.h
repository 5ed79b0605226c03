// The tool's two file loggers on "basic-log.txt".
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include <spdlog/spdlog.h>

namespace iap {

// The shell's own lines (created first thing at start-up).
extern std::shared_ptr<spdlog::logger> basic_logg;
// Everything else (created first thing in main_init).
extern std::shared_ptr<spdlog::logger> basic_logger;
// Until a logger is created its handle points at a logger that discards every
// line, so library code and tests can log without any set-up.

// Create (or replace) the logger of that name on the shared log file sink.
// The log file opens on first use: "basic-log.txt" in the working folder, or,
// when that cannot be opened (a read-only folder, another user's file), the
// same name in the per-user state folder, which standard error then names.
// When neither opens, the tool runs without a log file (said on standard
// error): the loggers exist and drop their lines. Never throws for the file.
void createShellLogger();   // basic_logg
void createMainLogger();    // basic_logger

// The log file both loggers write through. One sink is shared by both
// loggers, so only one writer ever rotates the file.
struct LogFileOptions {
    std::string fileName = "basic-log.txt";
    // The live file is rotated when a line would take it past maxFileSize;
    // maxFiles older files are kept ("basic-log.1.txt" is the newest of them).
    // The tool writes about 6 MB a minute while its window is open, so the
    // defaults keep roughly the last half hour (many upgrades on a line) in
    // at most 200 MB, in files small enough for any text editor.
    std::size_t maxFileSize = 20u * 1024 * 1024;
    std::size_t maxFiles = 9;
};

// Sets the options of the log file for loggers created afterwards (the
// defaults need no call). Closes both loggers first (see closeLoggers).
void setLogFileOptions(const LogFileOptions& options);

// The folder the log file went to (absolute); empty before the file was
// opened and when no folder would take it. The upgrade record lies beside it.
std::filesystem::path logFolder();

// The upgrade record's file name: the record lies beside the log (the
// upgrade floor writes it, the fleet follows it).
inline constexpr const char* kUpgradeRecordName = "upgrade-record.csv";

// The record's columns, in order. New columns are only ever added at the
// end, so a record begun by an older tool has a header that is a prefix of
// these, while the lines appended to it since carry them all.
inline constexpr std::array<std::string_view, 20> kUpgradeRecordColumns = {
    "start", "duration_ms", "procedure", "outcome", "result", "status", "vid", "pid", "bcd_device", "serial",
    "path", "sw_version", "payload_length", "payload_crc", "tool", "failure", "port", "tool_version",
    "attempt_id", "signer"};

// Where the log goes when the working folder cannot take it:
// $XDG_STATE_HOME/usb-iap-tool (when set and absolute), else
// ~/.local/state/usb-iap-tool; on Windows %LOCALAPPDATA%\USB IAP tool.
// Empty when none of these is known.
std::filesystem::path userStateFolder();

// Flushes and releases both loggers and the shared sink; both handles point at
// the discarding logger again. Safe to call when nothing was created; call it
// only while no other thread logs (the handles are replaced).
void closeLoggers();

}  // namespace iap
