#pragma once

#include "client/client_errors.h"

// The kinds of failure a client call can end with, for front ends that speak
// in numbers (the C library's codes; exit codes, exception types). Decided
// from the error's type and reason, never from its text.
namespace veltra {

enum class FailureKind {
    Refused,      // a value the checks refuse; nothing was sent
    Missing,      // no such device
    Permission,   // the device may not be opened
    Busy,         // the device is in use
    Closed,       // the port is closed, or went away
    PortOther,    // the device failed otherwise
    Timeout,      // no answer in time
    Different,    // read back other than set
    ConfigFile,   // a .cfg file that cannot be read or written
    Interrupted,  // the caller's interrupt check said stop
    BadReply,     // a reply the controller cannot have sent
    Other,        // any other client failure
};

FailureKind failureKind(PortError::Reason reason);
FailureKind failureKind(const ClientError& error);

}  // namespace veltra
