// What made an attempt fail, in one word for scripts and the upgrade record,
// given where the failure happens. The user still sees the texts of the
// window ("Unknown exception" for the three protocol failures).
#pragma once

#include <exception>

namespace iap {

enum class Failure {
    None,          // the attempt passed
    Timeout,       // timeout: no answering report within readAckTimeout (connection.cpp)
    WriteFailed,   // write-failed: a report could not be written (connection.cpp)
    ReadFailed,    // read-failed: a read failed, as for a device gone from the bus (connection.cpp)
    TransferPack,  // transfer-pack: a report with a wrong marker, length or checksum (transfer_pack.cpp)
    BusinessPack,  // business-pack: a response that fails the response checks (response_assembler.cpp)
    DeviceStatus,  // device-status: the device answered a non-zero status code (procedure.cpp)
    RetryLimit,    // retry-limit: the engine gave up although the device answered 0 (retryNum 0)
    Refused,       // refused: the firmware cannot be run; no device was looked for (procedure.cpp)
    NotFound,      // not-found: no device of the package was found (procedure.cpp)
    OpenFailed,    // open-failed: a device of the package is there and cannot be opened (station)
    Interrupted,   // interrupted: stopped before its end (procedure.cpp, station)
    Exception,     // exception: any other error (procedure.cpp, station)
};

// The word of a failure; "" for None.
const char* failureName(Failure failure);

// The failure an exception of the link carries (exceptions.h).
class LinkFailure {
public:
    virtual ~LinkFailure() = default;
    virtual Failure failure() const noexcept = 0;
};

// The failure e carries; Exception when it carries none.
Failure failureOf(const std::exception& e);

}  // namespace iap
