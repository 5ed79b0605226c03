#include "upgrade/iap_engine.h"

#include <stdexcept>

#include "bytes/firmware_image.h"
#include "link/packets.h"
#include "logging/diagnostics.h"

namespace iap {

IAPEngine::IAPEngine(DeviceConnection& device_, std::vector<uint8_t> firmware_, uint16_t blockSize_,
                     int32_t retryNum_, int32_t readAckTimeout_, uint16_t switchDelay_,
                     ProgressCallback onProgress_)
    : device(device_) {
    const std::string refusal = firmwareEngineProblem(firmware_.size(), blockSize_);
    if (!refusal.empty()) {
        throw std::invalid_argument(refusal);
    }
    blockSize = blockSize_;
    totalSize = static_cast<uint32_t>(firmware_.size() - kImageHeaderSize);
    blockCount = static_cast<uint32_t>(iap::blockCount(totalSize, blockSize));
    lastBlockSize = static_cast<uint16_t>(iap::lastBlockSize(totalSize, blockSize));
    switchDelay = switchDelay_;
    retryNum = retryNum_;
    readAckTimeout = readAckTimeout_;
    firmware = std::move(firmware_);
    onProgress = std::move(onProgress_);
}

void IAPEngine::printStatus() const {
    diagnostic("IAP status:%d %d %d\n", state, step, phase);
}

void IAPEngine::progress() {
    if (onProgress) {
        onProgress(*this);
    }
}

void IAPEngine::sendCommandInHand() {
    uint8_t* request = device.request();
    size_t length = 0;
    switch (step) {
    case STEP_HEADER:
        length = buildHeaderCommand(request, firmware);
        break;
    case STEP_DATA: {
        const bool last = blockIndex + 1u == blockCount;
        blockLength = last ? lastBlockSize : blockSize;
        length = buildDataCommand(request, firmware, blockIndex, blockSize, blockLength, last);
        break;
    }
    case STEP_FINISH:
        length = buildFinishCommand(request, switchDelay);
        break;
    case STEP_TO_BOOT:
        length = buildToBootCommand(request, switchDelay);
        break;
    default:
        return;
    }
    device.sendBusinessPack(request, length, readAckTimeout);
}

void IAPEngine::takeResponse() {
    device.receiveBusinessPack(readAckTimeout);
    deviceStatus = device.response()[1];
}

bool IAPEngine::upgradeStep() {
    printStatus();
    if (state == STATE_NEW) {
        state = STATE_RUNNING;
        step = STEP_HEADER;
        return true;
    }
    if (state == STATE_FAILED || state == STATE_PASSED) {
        return false;
    }
    if (state != STATE_RUNNING) {
        return true;
    }
    if (phase == PHASE_SEND) {
        if (step == STEP_HEADER || step == STEP_DATA || step == STEP_FINISH) {
            sendCommandInHand();
        }
        phase = PHASE_ACK;
        return true;
    }
    if (phase == PHASE_ACK) {
        takeResponse();
        retryCount = 0;
        if (deviceStatus != 0) {
            errorFlag = 1;
            state = STATE_FAILED;
        } else {
            phase = PHASE_SEND;
            if (step == STEP_HEADER) {
                step = STEP_DATA;
            } else if (step == STEP_DATA) {
                ackedSize += blockLength;
                ++blockIndex;
                if (blockIndex == blockCount) {
                    step = STEP_FINISH;
                }
            } else if (step == STEP_FINISH) {
                step = STEP_DONE;
                state = STATE_PASSED;
            }
            progress();
        }
        if (!(retryCount < retryNum)) {
            errorFlag = 0;
            state = STATE_FAILED;
        }
        return true;
    }
    return true;
}

bool IAPEngine::toBootStep() {
    printStatus();
    if (state == STATE_NEW) {
        state = STATE_RUNNING;
        step = STEP_TO_BOOT;
        return true;
    }
    if (state == STATE_FAILED || state == STATE_PASSED) {
        return false;
    }
    if (state != STATE_RUNNING) {
        return true;
    }
    if (phase == PHASE_SEND) {
        if (step == STEP_TO_BOOT) {
            sendCommandInHand();
        }
        phase = PHASE_ACK;
        return true;
    }
    if (phase == PHASE_ACK) {
        takeResponse();
        phase = PHASE_SEND;
        if (deviceStatus == 0) {
            retryCount = 0;
            step = STEP_DONE;
            state = STATE_PASSED;
            progress();
        } else {
            ++retryCount;
        }
        if (!(retryCount < retryNum)) {
            errorFlag = 0;
            state = STATE_FAILED;
        }
        return true;
    }
    return true;
}

}  // namespace iap
