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

}  // namespace veltra
