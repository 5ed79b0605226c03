#include "link/status_codes.h"

namespace iap {

std::string statusMessage(unsigned code) {
    switch (code) {
    case 0x00: return "success!";
    case 0xE0: return "invalid cmd";
    case 0xE1: return "length error";
    case 0xE2: return "CRC error";
    case 0xE3: return "block number error";
    case 0xE4: return "block size error";
    case 0xE5: return "write offset error";
    case 0xE6: return "read offset error";
    case 0xE7: return "parameter error";
    case 0xE8: return "flash operation failed";
    case 0xE9: return "condition not satisfied";
    case 0xF0: return "[header] error: upgradeFlag";
    case 0xF1: return "[HEADER] error: chipID";
    case 0xF2: return "[HEADER] error: itemInfo";
    case 0xF3: return "[HEADER] error: HW version";
    case 0xF4: return "[HEADER] error: SW version";
    case 0xF5: return "[HEADER] error: CHECK INFO";
    case 0xF6: return "[HEADER] error: BLOCK INFO";
    case 0xF7: return "[HEADER] error: upgrade type";
    case 0xF8: return "[HEADER] error: encrypt";
    case 0xF9: return "[HEADER] error: headerCRC";
    case 0xFA: return "[HEADER] error: load address";
    case 0xFB: return "[HEADER] error: bin size";
    default: return "unknown error";
    }
}

}  // namespace iap
