#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace veltra {

class PortHub;

// --traffic-log FILE: every write and every received chunk of every port,
// appended to FILE one line each (see trafficLine; a chunk of more than
// kLineBytes bytes in several), handed to the system per chunk. The panel
// never waits for the log: a pipe or terminal that takes nothing for now
// keeps the lines in memory (bounded) until it does. A write that fails (a
// full disk, a reader gone) stops the log and is told once.
class TrafficLog {
public:
    TrafficLog();
    ~TrafficLog();
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;

    // False, with the reason in `error`, when the file cannot be opened for
    // appending; a pipe no program reads is refused too.
    bool open(const QString& path, QString* error);
    bool isOpen() const;
    // Lines of COM `port` name it and its device: "TX COM1 /dev/ttyUSB0 CC".
    void write(int port, const QString& device, bool sent, const std::uint8_t* bytes, std::size_t n);
    void writeEvent(int port, const QString& device, const QString& text);
    // One line (without its line end).
    void writeLine(std::string line);
    // Every port of `ports` writes its traffic and its link's events here from now on.
    void attach(PortHub& ports);
    // Told once, "Traffic log stopped: No space left on device", when the
    // log stops; nothing is written after that.
    void setFailureHandler(std::function<void(const QString&)> handler) { m_failed = std::move(handler); }

    // What a reader that takes nothing may leave waiting; beyond this the log stops.
    static constexpr std::size_t kMaxPending = std::size_t{1} << 20;
    // Bytes on one TX or RX line; a larger chunk takes several lines.
    static constexpr std::size_t kLineBytes = 512;

private:
    struct File;
    void stop(const QString& reason);
    void closeFile();  // the platform file's, where File is whole
    std::unique_ptr<File> m_file;
    std::function<void(const QString&)> m_failed;
};

// The message for a traffic log that cannot be opened.
QString trafficLogFailure(const QString& path, const QString& reason);

}  // namespace veltra
