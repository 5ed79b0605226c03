// The IAP engine: the stepped state machine of one conversation with the
// device's bootloader, either a whole upgrade (header, every data block,
// finish) or a switch from the application into the bootloader. Its caller
// steps it until a step returns false, then reads state, errorFlag and
// deviceStatus. Each step sends at most one command or takes one response.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/connection.h"

namespace iap {

class IAPEngine {
public:
    static constexpr int32_t STATE_NEW = 0;
    static constexpr int32_t STATE_RUNNING = 1;
    static constexpr int32_t STATE_FAILED = 2;
    static constexpr int32_t STATE_PASSED = 3;

    static constexpr int32_t STEP_HEADER = 0x20;
    static constexpr int32_t STEP_DATA = 0x21;
    static constexpr int32_t STEP_FINISH = 0x22;
    static constexpr int32_t STEP_TO_BOOT = 0x23;
    static constexpr int32_t STEP_DONE = 0x24;

    static constexpr int32_t PHASE_SEND = 0x40;
    static constexpr int32_t PHASE_ACK = 0x41;

    using ProgressCallback = std::function<void(IAPEngine&)>;

    // The connection must hold the open device; the engine uses it (and its
    // buffers) but never closes it. Throws std::invalid_argument with the
    // text of firmwareEngineProblem for an image outside the limits.
    IAPEngine(DeviceConnection& device, std::vector<uint8_t> firmware, uint16_t blockSize,
              int32_t retryNum, int32_t readAckTimeout, uint16_t switchDelay,
              ProgressCallback onProgress);

    // One step of the upgrade / of the switch to bootloader: true to go on,
    // false once the engine has passed or failed. Link failures propagate.
    bool upgradeStep();
    bool toBootStep();

    int32_t state = STATE_NEW;
    int32_t step = STEP_HEADER;
    int32_t phase = PHASE_SEND;
    uint16_t blockSize = 0;
    uint32_t blockCount = 0;
    uint16_t lastBlockSize = 0;
    uint16_t blockIndex = 0;
    uint32_t blockLength = 0;
    uint32_t totalSize = 0;
    uint32_t ackedSize = 0;
    uint16_t switchDelay = 0;
    DeviceConnection& device;
    int32_t retryNum = 0;
    int32_t retryCount = 0;
    int32_t readAckTimeout = 0;
    std::vector<uint8_t> firmware;
    int32_t deviceStatus = 0;
    int32_t errorFlag = 0;
    ProgressCallback onProgress;

private:
    void printStatus() const;
    void sendCommandInHand();
    void takeResponse();
    void progress();
};

}  // namespace iap
