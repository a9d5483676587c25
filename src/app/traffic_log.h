#pragma once

#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace veltra {

class PortHub;

// --traffic-log FILE: every write and every received chunk of every port,
// appended to FILE one line each (see trafficLine), flushed per line.
class TrafficLog {
public:
    // False, with the reason in `error`, when the file cannot be opened for appending.
    bool open(const QString& path, QString* error);
    bool isOpen() const { return m_file.isOpen(); }
    void write(int port, bool sent, const std::uint8_t* bytes, std::size_t n);
    // Every port of `ports` writes its traffic here from now on.
    void attach(PortHub& ports);

private:
    QFile m_file;
};

// The message for a traffic log that cannot be opened.
QString trafficLogFailure(const QString& path, const QString& reason);

}  // namespace veltra
