#include "link/failure.h"

namespace iap {

const char* failureName(Failure failure) {
    switch (failure) {
    case Failure::None: return "";
    case Failure::Timeout: return "timeout";
    case Failure::WriteFailed: return "write-failed";
    case Failure::ReadFailed: return "read-failed";
    case Failure::TransferPack: return "transfer-pack";
    case Failure::BusinessPack: return "business-pack";
    case Failure::DeviceStatus: return "device-status";
    case Failure::RetryLimit: return "retry-limit";
    case Failure::Refused: return "refused";
    case Failure::NotFound: return "not-found";
    case Failure::OpenFailed: return "open-failed";
    case Failure::Interrupted: return "interrupted";
    case Failure::Exception: return "exception";
    }
    return "exception";
}

Failure failureOf(const std::exception& e) {
    const auto* tagged = dynamic_cast<const LinkFailure*>(&e);
    return tagged ? tagged->failure() : Failure::Exception;
}

}  // namespace iap
