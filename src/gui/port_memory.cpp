#include "gui/port_memory.h"

#include <QSettings>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace veltra {

namespace {

QString key(int port, const char* name) { return QStringLiteral("COM%1/%2").arg(port).arg(QLatin1String(name)); }

}  // namespace

RememberedPort rememberedPort(QSettings& settings, int port, RememberedPort start) {
    const auto says = [&](const char* name, const QVariant& v) {
        std::fprintf(stderr, "veltra-utility: %s in %s is \"%s\", which the port cannot use: ignored\n",
                     key(port, name).toLocal8Bit().constData(), settings.fileName().toLocal8Bit().constData(),
                     v.toString().toLocal8Bit().constData());
    };
    const QString device = settings.value(key(port, "device")).toString();
    if (!device.isEmpty()) start.device = device;
    // Each line field by itself: what is there and usable replaces the start's.
    const struct { const char* name; LineField field; int PortSettingsRequest::*member; } numbers[] = {
        {"baud", LineField::Baud, &PortSettingsRequest::baudRate},
        {"dataBits", LineField::DataBits, &PortSettingsRequest::dataBits},
        {"stopBits", LineField::StopBits, &PortSettingsRequest::stopBits},
        {"sendBuffer", LineField::SendBuffer, &PortSettingsRequest::sendBufferSize},
    };
    const auto usable = [](const PortSettingsRequest& line, LineField field) {
        const std::vector<LineField> bad = unusableLineFields(line);
        return std::find(bad.begin(), bad.end(), field) == bad.end();
    };
    for (const auto& n : numbers) {
        const QVariant v = settings.value(key(port, n.name));
        if (!v.isValid()) continue;
        PortSettingsRequest line = start.line;
        bool ok = false;
        line.*n.member = v.toInt(&ok);
        if (ok && usable(line, n.field))
            start.line = line;
        else
            says(n.name, v);
    }
    if (const QVariant v = settings.value(key(port, "parity")); v.isValid()) {
        const QString parity = v.toString();
        PortSettingsRequest line = start.line;
        line.parity = parity.size() == 1 ? parity[0].toLatin1() : '\0';
        if (usable(line, LineField::Parity))
            start.line = line;
        else
            says("parity", v);
    }
    return start;
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
