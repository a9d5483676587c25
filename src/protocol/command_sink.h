#pragma once

#include "protocol/commands.h"

namespace veltra {

// Where commands go: the link of COM port `port` (1..4).
class CommandSink {
public:
    virtual ~CommandSink() = default;
    // Hands one whole command to the port's link. Returns false when it was
    // not sent (no such port, or the port is closed).
    virtual bool send(int port, const Command& command) = 0;
};

}  // namespace veltra
