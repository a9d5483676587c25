#include "client/failure_kind.h"

namespace veltra {

FailureKind failureKind(PortError::Reason reason) {
    switch (reason) {
    case PortError::Reason::Missing: return FailureKind::Missing;
    case PortError::Reason::Permission: return FailureKind::Permission;
    case PortError::Reason::Busy: return FailureKind::Busy;
    case PortError::Reason::Closed: return FailureKind::Closed;
    case PortError::Reason::Other: return FailureKind::PortOther;
    }
    return FailureKind::PortOther;
}

FailureKind failureKind(const ClientError& error) {
    if (dynamic_cast<const RefusedError*>(&error)) return FailureKind::Refused;
    if (const auto* p = dynamic_cast<const PortError*>(&error)) return failureKind(p->reason());
    if (dynamic_cast<const TimeoutError*>(&error)) return FailureKind::Timeout;
    if (dynamic_cast<const VerifyError*>(&error)) return FailureKind::Different;
    if (dynamic_cast<const ConfigFileError*>(&error)) return FailureKind::ConfigFile;
    if (dynamic_cast<const InterruptedError*>(&error)) return FailureKind::Interrupted;
    if (dynamic_cast<const ReplyError*>(&error)) return FailureKind::BadReply;
    return FailureKind::Other;
}

}  // namespace veltra
