// The device side of the IAP protocol: a USB HID device that runs either its
// application or its IAP bootloader. The core is free of any bus or timing so
// that it can stand behind the in-memory bus (sim_bus.h) as well as behind a
// fake hidraw node.
//
// What the bootloader checks, with the status code it answers:
//  transfer packs   marker 0xAA (0xE0), length <= 56 and checksum (0xE2),
//                   sequence: a business pack starts with the first bit and
//                   counts its remaining packs down to 0 (0xE1)
//  business packs   data length N matches the pack (0xE1), CRC-16/MODBUS high
//                   byte first (0xE2), known command (0xE0)
//  application mode only CMD_TO_BOOT is accepted (0xE9)
//  CMD_HEADER       N = 128 (0xE1); signature bytes 0-7 printable ASCII, or
//                   equal to expectedSignature when set (0xF0); chip ID at 8
//                   when expectedChipId is set (0xF1); header CRC at 126 over
//                   bytes 0-125 (0xF9); payload length at 110 from 1 to the
//                   flash size (0xFB); block size at 66 from 1 to 8192 and
//                   block count at 68 = ceil(length / block size) (0xF6)
//  CMD_DATA         only after an accepted header (0xE9); block number k in
//                   order, 0xFFFF on the last block only (0xE3); offset
//                   k * block size (0xE5); block length = block size, or the
//                   remainder on the last block (0xE4); the block is written
//                   to flash at its offset
//  CMD_FINISH       only after every block (0xE9); payload CRC at header 62
//                   over the flash written (0xF5); then the device restarts
//                   as the application after switchDelay ms, its bcdDevice
//                   taken from the SW version text "Vx.y.z" at header 54
//                   (0x0xyz)
//  CMD_TO_BOOT      in application mode: accepted, the device restarts as
//                   the bootloader (bootProductId) after switchDelay ms; in
//                   bootloader mode: accepted, nothing changes
// What the sim shares with the link, decided once: the checksum primitives
// and byte order (bytes/), and the protocol's constants (command codes,
// status codes, report and pack sizes). It frames, parses and judges every
// pack with code of its own, written from the protocol, so that a mistake
// in the link's framing or checking shows up as a failed exchange here
// instead of being mirrored by the same code on both sides.
//
// Every output report is answered by exactly one input report (a reply to a
// pack that does not end its business pack is an empty transfer pack);
// faults (sim_fault.h) change that answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_fault.h"

namespace iap::sim {

enum class Mode { Application, Bootloader };

using Report = std::vector<uint8_t>;  // 64 bytes

struct BootloaderConfig {
    uint8_t reportId = 0x01;
    uint16_t vendorId = 0x1234;
    uint16_t appProductId = 0x5678;
    uint16_t bootProductId = 0x5679;
    uint16_t bcdDevice = 0x0100;
    std::string serialNumber = "SIM0001";
    Mode mode = Mode::Bootloader;
    size_t flashSize = 256 * 1024;
    std::string expectedSignature;  // empty: any 8 printable ASCII characters
    std::string expectedChipId;     // empty: not checked
    uint16_t responseDataLength = 0;  // A of every response (data bytes 0x5A)
};

// One command as the bootloader saw it.
struct CommandRecord {
    uint8_t code = 0;
    std::vector<uint8_t> pack;  // the whole business pack
    uint8_t status = 0;         // status answered (before faults)
};

class SimBootloader {
public:
    explicit SimBootloader(BootloaderConfig config = {});

    // Takes one 64-byte output report (byte 0 the report ID) and returns the
    // input reports to deliver: normally one, none for a no-reply fault,
    // several for a response longer than one report.
    std::vector<Report> onOutputReport(const uint8_t* report);

    // Called when the device leaves its current identity: a switch to mode
    // after delayMs, or a disconnect (Mode unchanged, delay 0, disconnect
    // true). The host re-enumerates the device and then calls enterMode.
    std::function<void(Mode target, uint16_t delayMs, bool disconnect)> onLeave;

    // Completes a restart into mode (state of a running upgrade is dropped).
    void enterMode(Mode mode);

    void addFault(const Fault& fault) { faults_.push_back(fault); }
    void clearFaults() { faults_.clear(); }

    Mode mode() const { return mode_; }
    uint16_t vendorId() const { return config_.vendorId; }
    uint16_t productId() const;
    uint16_t bcdDevice() const { return bcdDevice_; }
    uint8_t reportId() const { return config_.reportId; }
    const BootloaderConfig& config() const { return config_; }

    // The report descriptor: usage page 0xFF00, the report ID, 63-byte input
    // and output reports. setDescriptor replaces it.
    std::vector<uint8_t> descriptor() const { return descriptor_; }
    void setDescriptor(std::vector<uint8_t> descriptor) { descriptor_ = std::move(descriptor); }

    const std::vector<uint8_t>& flash() const { return flash_; }
    const std::vector<uint8_t>& header() const { return header_; }  // last accepted
    const std::vector<CommandRecord>& commands() const { return commands_; }
    bool upgradePassed() const { return passed_; }

private:
    uint8_t handleCommand(const std::vector<uint8_t>& pack);
    uint8_t handleHeader(const uint8_t* data, size_t n);
    uint8_t handleData(const uint8_t* data, size_t n);
    uint8_t handleFinish(const uint8_t* data, size_t n);
    uint8_t handleToBoot(const uint8_t* data, size_t n);
    Report frame(const uint8_t* payload, size_t length, uint16_t remaining, bool first) const;
    std::vector<Report> respond(uint8_t status, const Fault* fault);
    std::optional<Fault> takeFault(bool packComplete, uint8_t command);

    BootloaderConfig config_;
    Mode mode_;
    uint16_t bcdDevice_;
    std::vector<uint8_t> descriptor_;
    std::vector<uint8_t> flash_;
    std::vector<Fault> faults_;
    std::vector<CommandRecord> commands_;

    // Reassembly of the business pack being received.
    std::vector<uint8_t> incoming_;
    bool assembling_ = false;
    uint16_t expectRemaining_ = 0;
    size_t reportIndex_ = 0;
    std::vector<size_t> commandCounts_ = std::vector<size_t>(256, 0);

    // Upgrade state.
    std::vector<uint8_t> header_;
    bool headerAccepted_ = false;
    uint16_t blockSize_ = 0;
    uint32_t blockCount_ = 0;
    uint32_t payloadLength_ = 0;
    uint32_t nextBlock_ = 0;
    bool passed_ = false;
};

// The default vendor-defined report descriptor for reportId.
std::vector<uint8_t> vendorDescriptor(uint8_t reportId);

// bcdDevice from a version text "Vx.y.z" (digits): 0x0xyz; 0 when malformed.
uint16_t versionToBcd(const uint8_t* text, size_t length);

}  // namespace iap::sim
