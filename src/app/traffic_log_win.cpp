#include "traffic_log.h"

#include <QFile>

#include <string>

// Windows: an ordinary file, written as it comes.

namespace veltra {

struct TrafficLog::File {
    QFile file;
};

bool TrafficLog::open(const QString& path, QString* error) {
    m_file = std::make_unique<File>();
    m_file->file.setFileName(path);
    if (m_file->file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    if (error)
        *error = m_file->file.errorString();
    m_file.reset();
    return false;
}

void TrafficLog::writeLine(std::string line) {
    if (!m_file)
        return;
    line += '\n';
    QFile& f = m_file->file;
    if (f.write(line.data(), static_cast<qint64>(line.size())) != static_cast<qint64>(line.size()) || !f.flush())
        stop(f.errorString());
}

TrafficLog::TrafficLog() = default;
TrafficLog::~TrafficLog() = default;
void TrafficLog::closeFile() { m_file.reset(); }

}  // namespace veltra
