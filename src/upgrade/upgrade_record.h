// "upgrade-record.csv": one line per upgrade or switch-to-boot attempt, kept
// beside the log. The log rotates and its frame lines fill it within half an
// hour; the record is never rotated and never truncated, so the outcome of
// every device on a line survives the shift.
//
// Columns (a header row opens a new file):
//   start          local time of the attempt's start, ISO 8601 with offset
//   duration_ms    how long it took
//   procedure      "upgrade" or "to-boot"
//   outcome        passed, device-error, timeout, failed, open-failed,
//                  refused or interrupted
//   result         the text the user saw, its lines joined with " / "
//   status         the last status code the device answered ("0xE2"),
//                  empty when no device was opened
//   vid, pid, bcd_device, serial, path
//                  the device as the enumeration listed it
//   sw_version, payload_length, payload_crc
//                  from the firmware's image header
//   tool           the tool file's name
//   failure        what made it fail, one word (failureName: timeout,
//                  write-failed, read-failed, transfer-pack, business-pack,
//                  device-status, retry-limit, refused, not-found,
//                  open-failed, interrupted, exception); empty when passed
//   port           the USB port chain of the device (usb-iap-flash: the
//                  port it works on, or the device's path where the port
//                  is unknown); empty when unknown
//   tool_version   the version of the program that wrote the line (the
//                  window tool or usb-iap-flash)
//   attempt_id     the attempt's unique ID, made when it ends: a UUID of
//                  version 7 (its first 48 bits the time in milliseconds),
//                  by which the fleet's store knows each line once
//   signer         the fingerprint of the key that signed the tool's
//                  package (a valid signature); empty when unsigned
// Columns are only ever added at the end, so that readers of older files
// keep working.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "logging/logging.h"  // kUpgradeRecordName
#include "upgrade/procedure.h"

namespace iap {

// What one line records besides the attempt's result.
struct RecordedAttempt {
    std::string_view procedure;        // "upgrade", "to-boot"
    const AttemptResult& result;
    std::span<const uint8_t> firmware;  // the image the attempt ran with
    std::string_view toolFile;          // the tool file's name
    bool interrupted = false;           // stopped before its end (Ctrl-C)
    std::string_view port;              // empty: the port chain of the device opened
};

// The outcome column's word for an attempt: "interrupted" when it was
// stopped before its end, else passed, device-error, timeout, failed,
// open-failed or refused.
const char* outcomeName(Outcome outcome, bool interrupted = false);

// The header row and one line, each ending in CR LF, fields quoted where CSV
// needs it. Each line gets a new attempt_id.
std::string recordHeader();
std::string recordLine(const RecordedAttempt& attempt, std::string_view signer = {});

// The user's text on one line: its line breaks become " / ".
std::string oneLine(std::string_view text);

// "2026-12-08T14:03:05.123+01:00".
std::string isoLocalTime(std::chrono::system_clock::time_point time);

class UpgradeRecord {
public:
    // file: the record's path; an empty path records nothing.
    explicit UpgradeRecord(std::filesystem::path file);

    // Appends the line (and the header row first when the file is new or
    // empty) with one write, flushed at once: a process killed at any moment
    // leaves only whole lines. Thread-safe. False when the file cannot be
    // written (said once, as a warning).
    bool append(const RecordedAttempt& attempt);

    // The signer column of every line: the package one process upgrades
    // with is the same for all its attempts. Thread-safe.
    void setSigner(std::string fingerprint);

    const std::filesystem::path& file() const { return file_; }

private:
    std::mutex mutex_;
    std::filesystem::path file_;
    std::string signer_;
    bool warned_ = false;
};

// The record beside the log: in logFolder(), or in the per-user state folder
// when the tool runs without a log file.
std::filesystem::path defaultRecordPath();

}  // namespace iap
