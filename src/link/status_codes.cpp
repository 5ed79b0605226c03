#include "link/status_codes.h"

namespace iap {

std::string statusMessage(unsigned code) {
    if (code > 0xFF) return "unknown error";
    switch (static_cast<StatusCode>(code)) {
    case STATUS_OK: return "success!";
    case STATUS_INVALID_CMD: return "invalid cmd";
    case STATUS_LENGTH_ERROR: return "length error";
    case STATUS_CRC_ERROR: return "CRC error";
    case STATUS_BLOCK_NUMBER_ERROR: return "block number error";
    case STATUS_BLOCK_SIZE_ERROR: return "block size error";
    case STATUS_WRITE_OFFSET_ERROR: return "write offset error";
    case STATUS_READ_OFFSET_ERROR: return "read offset error";
    case STATUS_PARAMETER_ERROR: return "parameter error";
    case STATUS_FLASH_FAILED: return "flash operation failed";
    case STATUS_CONDITION_NOT_SATISFIED: return "condition not satisfied";
    case STATUS_HEADER_UPGRADE_FLAG: return "[header] error: upgradeFlag";
    case STATUS_HEADER_CHIP_ID: return "[HEADER] error: chipID";
    case STATUS_HEADER_ITEM_INFO: return "[HEADER] error: itemInfo";
    case STATUS_HEADER_HW_VERSION: return "[HEADER] error: HW version";
    case STATUS_HEADER_SW_VERSION: return "[HEADER] error: SW version";
    case STATUS_HEADER_CHECK_INFO: return "[HEADER] error: CHECK INFO";
    case STATUS_HEADER_BLOCK_INFO: return "[HEADER] error: BLOCK INFO";
    case STATUS_HEADER_UPGRADE_TYPE: return "[HEADER] error: upgrade type";
    case STATUS_HEADER_ENCRYPT: return "[HEADER] error: encrypt";
    case STATUS_HEADER_CRC: return "[HEADER] error: headerCRC";
    case STATUS_HEADER_LOAD_ADDRESS: return "[HEADER] error: load address";
    case STATUS_HEADER_BIN_SIZE: return "[HEADER] error: bin size";
    }
    return "unknown error";
}

}  // namespace iap
