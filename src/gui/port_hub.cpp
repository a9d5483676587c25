#include "gui/port_hub.h"

#include "serial/ccomportlink.h"


namespace veltra {

PortHub::PortHub(QObject* owner) {
    for (auto& link : m_links)
        link = new CComPortLink(owner);
}

CComPortLink& PortHub::link(int port) { return *m_links.at(static_cast<std::size_t>(port - 1)); }
const CComPortLink& PortHub::link(int port) const { return *m_links.at(static_cast<std::size_t>(port - 1)); }

bool PortHub::send(int port, const Command& command) {
    if (port < 1 || port > kPortCount)
        return false;
    CComPortLink& l = link(port);
    if (!l.isOpen())
        return false;
    return l.QueueWrite(command.bytes.data(), command.length);
}

void PortHub::setTrafficHandler(const TrafficHandler& handler) {
    for (CComPortLink* l : m_links) {
        if (!handler) {
            l->setTrafficHandler({});
            continue;
        }
        l->setTrafficHandler([handler](int port, bool sent, const QByteArray& bytes) {
            handler(port, sent, reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                    static_cast<std::size_t>(bytes.size()));
        });
    }
}

void PortHub::setEventHandler(const EventHandler& handler) {
    m_eventHandler = handler;
    for (CComPortLink* l : m_links)
        l->setEventHandler(handler);
}

void PortHub::logEvent(int port, const QString& text) const {
    if (m_eventHandler)
        m_eventHandler(port, text);
}

}  // namespace veltra
