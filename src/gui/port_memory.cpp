#include "gui/port_memory.h"

#include <QSettings>

namespace veltra {

namespace {

QString key(int port, const char* name) { return QStringLiteral("COM%1/%2").arg(port).arg(QLatin1String(name)); }

}  // namespace

std::optional<RememberedPort> rememberedPort(QSettings& settings, int port) {
    RememberedPort r;
    r.device = settings.value(key(port, "device")).toString();
    bool ok[4] = {};
    r.line.baudRate = settings.value(key(port, "baud")).toInt(&ok[0]);
    r.line.dataBits = settings.value(key(port, "dataBits")).toInt(&ok[1]);
    r.line.stopBits = settings.value(key(port, "stopBits")).toInt(&ok[2]);
    r.line.sendBufferSize = settings.value(key(port, "sendBuffer")).toInt(&ok[3]);
    const QString parity = settings.value(key(port, "parity")).toString();
    r.line.parity = parity.size() == 1 ? parity[0].toLatin1() : '\0';
    const bool usable = !r.device.isEmpty() && ok[0] && ok[1] && ok[2] && ok[3] && r.line.baudRate > 0 &&
                        r.line.dataBits >= 5 && r.line.dataBits <= 8 && (r.line.stopBits == 1 || r.line.stopBits == 2) &&
                        r.line.sendBufferSize > 0 && r.line.parity != '\0' && QByteArrayView("NOEMSnoems").contains(r.line.parity);
    if (!usable)
        return std::nullopt;
    return r;
}

void rememberPort(QSettings& settings, int port, const RememberedPort& r) {
    settings.setValue(key(port, "device"), r.device);
    settings.setValue(key(port, "baud"), r.line.baudRate);
    settings.setValue(key(port, "parity"), QString(QLatin1Char(r.line.parity)));
    settings.setValue(key(port, "dataBits"), r.line.dataBits);
    settings.setValue(key(port, "stopBits"), r.line.stopBits);
    settings.setValue(key(port, "sendBuffer"), r.line.sendBufferSize);
    settings.sync();
}

}  // namespace veltra
