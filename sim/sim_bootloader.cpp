#include "sim/sim_bootloader.h"

#include <algorithm>
#include <cstring>

#include "bytes/byte_order.h"
#include "bytes/checksums.h"
#include "link/packets.h"
#include "link/status_codes.h"
#include "link/transfer_pack.h"

namespace iap::sim {

std::vector<uint8_t> vendorDescriptor(uint8_t reportId) {
    return {
        0x06, 0x00, 0xFF,  // Usage Page (Vendor Defined 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x85, reportId,    //   Report ID
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
        0x95, 0x3F,        //   Report Count (63)
        0x09, 0x01,        //   Usage (1)
        0x81, 0x02,        //   Input (Data, Var, Abs)
        0x95, 0x3F,        //   Report Count (63)
        0x09, 0x01,        //   Usage (1)
        0x91, 0x02,        //   Output (Data, Var, Abs)
        0xC0,              // End Collection
    };
}

uint16_t versionToBcd(const uint8_t* text, size_t length) {
    if (length < 6 || text[0] != 'V' || text[2] != '.' || text[4] != '.') {
        return 0;
    }
    uint16_t bcd = 0;
    for (size_t i : {size_t{1}, size_t{3}, size_t{5}}) {
        if (text[i] < '0' || text[i] > '9') {
            return 0;
        }
        bcd = static_cast<uint16_t>((bcd << 4) | (text[i] - '0'));
    }
    return bcd;
}

SimBootloader::SimBootloader(BootloaderConfig config)
    : config_(std::move(config)),
      mode_(config_.mode),
      bcdDevice_(config_.bcdDevice),
      descriptor_(vendorDescriptor(config_.reportId)),
      flash_(config_.flashSize, 0xFF) {}

uint16_t SimBootloader::productId() const {
    return mode_ == Mode::Application ? config_.appProductId : config_.bootProductId;
}

void SimBootloader::enterMode(Mode mode) {
    mode_ = mode;
    assembling_ = false;
    incoming_.clear();
    headerAccepted_ = false;
    nextBlock_ = 0;
}

std::optional<Fault> SimBootloader::takeFault(bool packComplete, uint8_t command) {
    const size_t index = reportIndex_;
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        bool hit = it->reportIndex >= 0 && static_cast<size_t>(it->reportIndex) == index;
        if (!hit && it->command >= 0 && packComplete && it->command == command) {
            hit = it->repeat ? commandCounts_[command] >= static_cast<size_t>(it->occurrence)
                             : commandCounts_[command] == static_cast<size_t>(it->occurrence);
        }
        if (hit) {
            const Fault fired = *it;
            if (!it->repeat) {
                faults_.erase(it);
            }
            return fired;
        }
    }
    return std::nullopt;
}

Report SimBootloader::frame(const uint8_t* payload, size_t length, uint16_t remaining, bool first) const {
    Report r(kReportSize, 0);
    const uint16_t seq = static_cast<uint16_t>((remaining & 0x7FFF) | (first ? 0x8000 : 0));
    r[0] = config_.reportId;
    r[1] = kTransferMarker;
    r[3] = static_cast<uint8_t>(seq & 0xFF);
    r[4] = static_cast<uint8_t>(seq >> 8);
    r[5] = static_cast<uint8_t>(length & 0xFF);
    r[6] = static_cast<uint8_t>(length >> 8);
    if (length > 0) std::memcpy(r.data() + 7, payload, length);
    r[7 + length] = xorChecksum(r.data() + 2, length + 5);
    return r;
}

std::vector<Report> SimBootloader::respond(uint8_t status, const Fault* fault) {
    const FaultKind kind = fault ? fault->kind : FaultKind::NoReply;
    if (fault && kind == FaultKind::Status) status = fault->status;

    const size_t a = config_.responseDataLength;
    std::vector<uint8_t> pack(a + 7, 0x5A);
    pack[0] = CMD_RESPONSE;
    pack[1] = status;
    pack[2] = 0x00;
    pack[3] = static_cast<uint8_t>(a & 0xFF);
    pack[4] = static_cast<uint8_t>(a >> 8);
    if (fault && kind == FaultKind::WrongResponseCode) pack[0] = 0xB1;
    if (fault && kind == FaultKind::HugeDataLength) {
        pack[3] = 0x07;  // 8199
        pack[4] = 0x20;
    }
    const uint16_t crc = crc16Modbus(pack.data(), a + 5);
    storeCrcHighFirst(pack.data() + a + 5, crc);
    if (fault && kind == FaultKind::WrongCrc) pack[a + 5] ^= 0x01;
    if (fault && kind == FaultKind::CrcLowFirst) {
        pack[a + 5] = static_cast<uint8_t>(crc & 0xFF);
        pack[a + 6] = static_cast<uint8_t>(crc >> 8);
    }
    if (fault && kind == FaultKind::Overshoot) pack.push_back(0x00);
    size_t firstLimit = kMaxTransferPayload;
    if (fault && kind == FaultKind::ShortFirstPack) firstLimit = 6;

    std::vector<Report> out;
    size_t pos = 0;
    // Pieces: the first up to firstLimit bytes, the rest in 56-byte packs.
    std::vector<size_t> sizes;
    for (size_t left = pack.size(), limit = firstLimit; left > 0; limit = kMaxTransferPayload) {
        const size_t n = std::min(left, limit);
        sizes.push_back(n);
        left -= n;
    }
    for (size_t i = 0; i < sizes.size(); ++i) {
        out.push_back(frame(pack.data() + pos, sizes[i], static_cast<uint16_t>(sizes.size() - 1 - i), i == 0));
        pos += sizes[i];
    }
    return out;
}

std::vector<Report> SimBootloader::onOutputReport(const uint8_t* report) {
    uint8_t status = STATUS_OK;
    bool complete = false;
    bool transportError = false;
    std::vector<uint8_t> pack;

    const size_t length = loadU16(report + 5);
    const uint16_t seq = static_cast<uint16_t>(loadU16(report + 3));
    const bool first = (seq & 0x8000) != 0;
    const uint16_t remaining = seq & 0x7FFF;
    if (report[1] != kTransferMarker) {
        status = STATUS_INVALID_CMD;
        transportError = true;
    } else if (length > kMaxTransferPayload || xorChecksum(report + 2, length + 5) != report[7 + length]) {
        status = STATUS_CRC_ERROR;
        transportError = true;
    } else if (first) {
        incoming_.assign(report + 7, report + 7 + length);
        assembling_ = true;
        expectRemaining_ = remaining;
    } else if (!assembling_ || expectRemaining_ == 0 || remaining != expectRemaining_ - 1) {
        status = STATUS_LENGTH_ERROR;
        transportError = true;
    } else {
        incoming_.insert(incoming_.end(), report + 7, report + 7 + length);
        expectRemaining_ = remaining;
    }
    if (transportError) {
        assembling_ = false;
        incoming_.clear();
        complete = true;
    } else if (expectRemaining_ == 0) {
        complete = true;
        assembling_ = false;
        pack.swap(incoming_);
    }

    const uint8_t code = pack.empty() ? 0 : pack[0];
    const std::optional<Fault> taken = takeFault(complete && !transportError, code);
    const Fault* fault = taken ? &*taken : nullptr;
    std::vector<Report> replies;
    if (complete && !transportError) {
        CommandRecord record;
        record.code = code;
        record.pack = pack;
        // A status fault rejects the command: it is not carried out.
        record.status = (fault && fault->kind == FaultKind::Status) ? fault->status : handleCommand(pack);
        commands_.push_back(record);
        ++commandCounts_[code];
        status = record.status;
    }
    ++reportIndex_;

    if (fault && fault->kind == FaultKind::NoReply) return {};
    if (fault && fault->kind == FaultKind::Disconnect) {
        if (onLeave) onLeave(mode_, 0, true);
        return {};
    }
    if (complete) {
        replies = respond(status, fault);
    } else {
        replies.push_back(frame(nullptr, 0, 0, false));  // answer to an intermediate pack
    }
    if (fault && fault->kind == FaultKind::AnsweredTwice) {
        const std::vector<Report> again = replies;
        replies.insert(replies.end(), again.begin(), again.end());
    }
    if (fault && !replies.empty()) {
        Report& r = replies.front();
        if (fault->kind == FaultKind::WrongMarker) r[1] = 0xAB;
        if (fault->kind == FaultKind::WrongChecksum) r[7 + loadU16(r.data() + 5)] ^= 0x01;
        if (fault->kind == FaultKind::OversizeLength) {
            r[5] = 57;
            r[6] = 0;
        }
    }
    return replies;
}

uint8_t SimBootloader::handleCommand(const std::vector<uint8_t>& pack) {
    if (pack.size() < 5) return STATUS_LENGTH_ERROR;
    const size_t n = loadU16(pack.data() + 1);
    if (n + 5 != pack.size()) return STATUS_LENGTH_ERROR;
    if (crc16Modbus(pack.data(), n + 3) != loadCrcHighFirst(pack.data() + n + 3)) return STATUS_CRC_ERROR;
    const uint8_t code = pack[0];
    const uint8_t* data = pack.data() + 3;
    if (mode_ == Mode::Application && code != CMD_TO_BOOT) return STATUS_CONDITION_NOT_SATISFIED;
    switch (code) {
    case CMD_HEADER: return handleHeader(data, n);
    case CMD_DATA: return handleData(data, n);
    case CMD_FINISH: return handleFinish(data, n);
    case CMD_TO_BOOT: return handleToBoot(data, n);
    default: return STATUS_INVALID_CMD;
    }
}

uint8_t SimBootloader::handleHeader(const uint8_t* h, size_t n) {
    headerAccepted_ = false;
    if (n != kImageHeaderSize) return STATUS_LENGTH_ERROR;
    if (!config_.expectedSignature.empty()) {
        std::string sig(reinterpret_cast<const char*>(h), 8);
        if (sig != config_.expectedSignature.substr(0, 8)) return STATUS_HEADER_UPGRADE_FLAG;
    } else if (!std::all_of(h, h + 8, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; })) {
        return STATUS_HEADER_UPGRADE_FLAG;
    }
    if (!config_.expectedChipId.empty()) {
        const size_t len = std::min<size_t>(h[8], 15);
        if (std::string(reinterpret_cast<const char*>(h + 9), len) != config_.expectedChipId) {
            return STATUS_HEADER_CHIP_ID;
        }
    }
    if (crc16Modbus(h, 126) != loadCrcHighFirst(h + 126)) return STATUS_HEADER_CRC;
    const uint32_t payload = loadU32(h + 110);
    if (payload == 0 || payload > flash_.size()) return STATUS_HEADER_BIN_SIZE;
    const uint32_t size = loadU16(h + 66);
    if (size == 0 || size > kMaxBlockSize) return STATUS_HEADER_BLOCK_INFO;
    const uint32_t count = loadU32(h + 68);
    if (count != (payload + size - 1) / size) return STATUS_HEADER_BLOCK_INFO;

    header_.assign(h, h + kImageHeaderSize);
    blockSize_ = static_cast<uint16_t>(size);
    blockCount_ = count;
    payloadLength_ = payload;
    nextBlock_ = 0;
    passed_ = false;
    std::fill(flash_.begin(), flash_.begin() + payload, 0xFF);  // erase
    headerAccepted_ = true;
    return STATUS_OK;
}

uint8_t SimBootloader::handleData(const uint8_t* d, size_t n) {
    if (!headerAccepted_) return STATUS_CONDITION_NOT_SATISFIED;
    if (n < 6) return STATUS_LENGTH_ERROR;
    if (nextBlock_ >= blockCount_) return STATUS_BLOCK_NUMBER_ERROR;
    const bool last = nextBlock_ + 1 == blockCount_;
    const uint32_t number = loadU16(d);
    const uint32_t expectedNumber = last ? kLastBlockNumber : nextBlock_;
    if (number != expectedNumber) return STATUS_BLOCK_NUMBER_ERROR;
    const uint32_t offset = loadU32(d + 2);
    if (offset != nextBlock_ * blockSize_) return STATUS_WRITE_OFFSET_ERROR;
    const size_t length = n - 6;
    const size_t expectedLength = last ? payloadLength_ - offset : blockSize_;
    if (length != expectedLength) return STATUS_BLOCK_SIZE_ERROR;
    if (offset + length > flash_.size()) return STATUS_FLASH_FAILED;
    std::memcpy(flash_.data() + offset, d + 6, length);
    ++nextBlock_;
    return STATUS_OK;
}

uint8_t SimBootloader::handleFinish(const uint8_t* d, size_t n) {
    if (n != 2) return STATUS_LENGTH_ERROR;
    if (!headerAccepted_ || nextBlock_ != blockCount_) return STATUS_CONDITION_NOT_SATISFIED;
    if (crc16Modbus(flash_.data(), payloadLength_) != loadCrcHighFirst(header_.data() + 62)) {
        return STATUS_HEADER_CHECK_INFO;
    }
    passed_ = true;
    headerAccepted_ = false;
    const uint16_t bcd = versionToBcd(header_.data() + 54, 6);
    if (bcd != 0) bcdDevice_ = bcd;
    if (onLeave) onLeave(Mode::Application, static_cast<uint16_t>(loadU16(d)), false);
    return STATUS_OK;
}

uint8_t SimBootloader::handleToBoot(const uint8_t* d, size_t n) {
    if (n != 2) return STATUS_LENGTH_ERROR;
    if (mode_ == Mode::Application && onLeave) {
        onLeave(Mode::Bootloader, static_cast<uint16_t>(loadU16(d)), false);
    }
    return STATUS_OK;
}

}  // namespace iap::sim
