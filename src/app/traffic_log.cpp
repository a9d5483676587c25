#include "traffic_log.h"

#include "gui/port_hub.h"
#include "protocol/traffic_line.h"
#include "serial/ccomportlink.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

// The file itself is the platform's: traffic_log_posix.cpp, traffic_log_win.cpp.

namespace veltra {

// The constructor and destructor are the platform file's, where File is whole.

bool TrafficLog::isOpen() const { return m_file != nullptr; }

namespace {

std::string portName(int port, const QString& device) {
    return "COM" + std::to_string(port) + " " + device.toStdString();
}

}  // namespace

void TrafficLog::write(int port, const QString& device, bool sent, const std::uint8_t* bytes, std::size_t n) {
    if (!m_file)
        return;
    // A large chunk is several lines of at most kLineBytes bytes, handed over together.
    const auto now = std::chrono::system_clock::now();
    const std::string name = portName(port, device);
    std::string lines;
    std::size_t at = 0;
    do {
        const std::size_t part = std::min(n - at, kLineBytes);
        if (!lines.empty())
            lines += '\n';
        lines += trafficLine(now, sent, name, bytes + at, part);
        at += part;
    } while (at < n);
    writeLine(std::move(lines));
}

void TrafficLog::writeEvent(int port, const QString& device, const QString& text) {
    if (m_file)
        writeLine(trafficEventLine(std::chrono::system_clock::now(), portName(port, device), text.toStdString()));
}

void TrafficLog::stop(const QString& reason) {
    closeFile();
    if (m_failed)
        std::exchange(m_failed, {})(QStringLiteral("Traffic log stopped: %1").arg(reason));
}

void TrafficLog::attach(PortHub& ports) {
    ports.setTrafficHandler([this, &ports](int port, bool sent, const std::uint8_t* bytes, std::size_t n) {
        write(port, ports.link(port).deviceName(), sent, bytes, n);
    });
    ports.setEventHandler(
        [this, &ports](int port, const QString& text) { writeEvent(port, ports.link(port).deviceName(), text); });
}

QString trafficLogFailure(const QString& path, const QString& reason) {
    return QStringLiteral("The traffic log %1 cannot be opened: %2. Veltra Utility runs without it.").arg(path, reason);
}

}  // namespace veltra
