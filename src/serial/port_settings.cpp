#include "serial/port_settings.h"

#include "serial/serial_platform.h"

#include "model/leading_int.h"

#include <QByteArray>

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

bool sendBufferSizeAcceptable(int size) {
    return size >= kMinSendBufferSize;
}

}  // namespace veltra
