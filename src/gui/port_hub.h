#pragma once

#include "model/panel_state.h"
#include "protocol/command_sink.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

class QObject;
class QString;

namespace veltra {

class CComPortLink;

// The panel's four serial links, COM1 to COM4, and the command sink that
// writes to them.
class PortHub : public CommandSink {
public:
    // The links become children of `owner` and live as long as it does.
    explicit PortHub(QObject* owner);

    // port is 1..4.
    CComPortLink& link(int port);
    const CComPortLink& link(int port) const;

    // Hands the command to the link of `port`; false when that port is not
    // open or refuses the bytes.
    bool send(int port, const Command& command) override;

    // Every write that goes out and every chunk received, on any port, in order.
    using TrafficHandler = std::function<void(int port, bool sent, const std::uint8_t* bytes, std::size_t n)>;
    void setTrafficHandler(const TrafficHandler& handler);
    // Every link's events (opened, closed and why, reconnect tries, reconnected).
    using EventHandler = std::function<void(int port, const QString& text)>;
    void setEventHandler(const EventHandler& handler);
    // An event of the panel's own about a port, in the same place.
    void logEvent(int port, const QString& text) const;

private:
    std::array<CComPortLink*, kPortCount> m_links{};
    EventHandler m_eventHandler;
};

}  // namespace veltra
