#include "traffic_log.h"

#include "gui/port_hub.h"
#include "protocol/traffic_line.h"

#include <chrono>
#include <string>

namespace veltra {

bool TrafficLog::open(const QString& path, QString* error) {
    m_file.setFileName(path);
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    if (error)
        *error = m_file.errorString();
    return false;
}

void TrafficLog::write(int port, bool sent, const std::uint8_t* bytes, std::size_t n) {
    if (!m_file.isOpen())
        return;
    const std::string name = "COM" + std::to_string(port);
    std::string line = trafficLine(std::chrono::system_clock::now(), sent, name, bytes, n);
    line += '\n';
    m_file.write(line.data(), static_cast<qint64>(line.size()));
    m_file.flush();  // a crash or a pulled plug keeps every line so far
}

void TrafficLog::attach(PortHub& ports) {
    ports.setTrafficHandler(
        [this](int port, bool sent, const std::uint8_t* bytes, std::size_t n) { write(port, sent, bytes, n); });
}

QString trafficLogFailure(const QString& path, const QString& reason) {
    return QStringLiteral("The traffic log %1 cannot be opened: %2. Veltra Utility runs without it.").arg(path, reason);
}

}  // namespace veltra
