// Misbehaviours of the simulated device, each at a chosen output report or
// command.
#pragma once

#include <cstdint>

namespace iap::sim {

enum class FaultKind {
    NoReply,            // no input report: the host's read times out
    WrongMarker,        // byte 1 of the reply is not 0xAA
    WrongChecksum,      // the transfer-pack checksum is off by one bit
    WrongCrc,           // the response CRC is wrong
    CrcLowFirst,        // the response CRC stored low byte first (MODBUS order)
    WrongResponseCode,  // response byte 0 is 0xB1 instead of 0xB0
    OversizeLength,     // the reply's length field says 57
    ShortFirstPack,     // the first reply pack carries only 6 bytes
    HugeDataLength,     // the response declares A = 8199
    Overshoot,          // the reply pack carries one byte past the response
    Status,             // the response carries status instead of the real one
    Disconnect,         // the device vanishes after taking the report
    AnsweredTwice,      // the reply is sent twice: one report too many
};

// Trigger: the output report with index reportIndex (0-based over the
// device's life), or the occurrence-th (0-based) command with code command.
// A command fault acts on the reply to the command's last transfer pack.
struct Fault {
    FaultKind kind = FaultKind::NoReply;
    int reportIndex = -1;  // >= 0: trigger by report
    int command = -1;      // >= 0: trigger by command code
    int occurrence = 0;
    uint8_t status = 0;    // for FaultKind::Status
    bool repeat = false;   // fire on every later match too

    static Fault atReport(FaultKind kind, int index) {
        Fault f;
        f.kind = kind;
        f.reportIndex = index;
        return f;
    }
    static Fault atCommand(FaultKind kind, uint8_t code, int occurrence = 0) {
        Fault f;
        f.kind = kind;
        f.command = code;
        f.occurrence = occurrence;
        return f;
    }
    static Fault statusAt(uint8_t code, uint8_t status, int occurrence = 0) {
        Fault f = atCommand(FaultKind::Status, code, occurrence);
        f.status = status;
        return f;
    }
};

}  // namespace iap::sim
