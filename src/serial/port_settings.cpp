#include "serial/port_settings.h"

#include "serial/serial_platform.h"

#include "model/leading_int.h"

#include <QByteArray>
#include <QByteArrayView>

namespace veltra {

namespace {

int leadingIntOf(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return leadingInt(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

}  // namespace

PortSettingsRequest convertDialogTexts(const QString& baudText, const QString& parityText,
                                       const QString& dataBitsText, const QString& stopBitsText,
                                       const QString& sendBufferText) {
    PortSettingsRequest r;
    r.baudRate = leadingIntOf(baudText);
    r.parity = parityText.isEmpty() ? '\0' : parityText.front().toLatin1();
    r.dataBits = leadingIntOf(dataBitsText);
    r.stopBits = leadingIntOf(stopBitsText);
    r.sendBufferSize = leadingIntOf(sendBufferText);
    return r;
}

QString defaultDeviceName(int portNumber) { return serial_platform::defaultDeviceName(portNumber); }

std::vector<LineField> unusableLineFields(const PortSettingsRequest& line) {
    std::vector<LineField> bad;
    const auto need = [&](bool usable, LineField field) {
        if (!usable) bad.push_back(field);
    };
    need(line.baudRate > 0, LineField::Baud);
    need(line.parity != '\0' && QByteArrayView("NOEMSnoems").contains(line.parity), LineField::Parity);
    need(line.dataBits >= 5 && line.dataBits <= 8, LineField::DataBits);
    need(line.stopBits == 1 || line.stopBits == 2, LineField::StopBits);
    need(line.sendBufferSize >= kMinSendBufferSize, LineField::SendBuffer);
    return bad;
}

}  // namespace veltra
