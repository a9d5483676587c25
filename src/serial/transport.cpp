#include "serial/transport.h"

#include "serial/net_transport.h"
#include "serial/serial_transport.h"

#include <QStringList>

namespace veltra {

namespace {

std::uint8_t stopSizeOf(std::uint8_t stopBits) {
    return stopBits == kStopBitsTwo ? 2 : stopBits == kStopBitsOneAndHalf ? 3 : 1;
}

}  // namespace

QString Transport::disconnectedText() { return tr("The device has been disconnected."); }

Transport* makeTransport(const QString& device, QObject* parent) {
    if (isNetworkDevice(device))
        return new NetTransport(device, parent);
    return new SerialTransport(device, parent);
}

ServerLine serverLineOf(const PortSettings& settings) {
    return ServerLine{settings.baudRate, settings.dataBits, static_cast<std::uint8_t>(settings.parity + 1),
                      stopSizeOf(settings.stopBits)};
}

QString parityName(std::uint8_t parity) {
    static const char* const names[] = {"none", "odd", "even", "mark", "space"};
    return parity >= 1 && parity <= 5 ? QLatin1String(names[parity - 1]) : QStringLiteral("unknown (%1)").arg(parity);
}

QString stopBitsName(std::uint8_t stopSize) {
    static const char* const names[] = {"1", "2", "1.5"};
    return stopSize >= 1 && stopSize <= 3 ? QLatin1String(names[stopSize - 1])
                                          : QStringLiteral("unknown (%1)").arg(stopSize);
}

QString lineText(const ServerLine& line) {
    const bool parityKnown = line.parity >= 1 && line.parity <= 5;
    const bool stopKnown = line.stopSize >= 1 && line.stopSize <= 3;
    QString text = QStringLiteral("%1 %2%3%4")
                       .arg(line.baudRate)
                       .arg(line.dataBits)
                       .arg(parityKnown ? QChar::fromLatin1("NOEMS"[line.parity - 1]) : QChar(u'?'))
                       .arg(stopKnown ? stopBitsName(line.stopSize) : QStringLiteral("?"));
    QStringList unknown;
    if (!parityKnown) unknown << QStringLiteral("parity %1").arg(line.parity);
    if (!stopKnown) unknown << QStringLiteral("stop size %1").arg(line.stopSize);
    if (!unknown.isEmpty()) text += QStringLiteral(" (%1)").arg(unknown.join(QStringLiteral(", ")));
    return text;
}

}  // namespace veltra
