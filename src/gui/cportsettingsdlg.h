#pragma once

#include "gui/table_dialog.h"
#include "serial/port_settings.h"

namespace veltra {

// "Port Configuration": one port's line settings, send-buffer size and
// device. It hands back texts; the caller converts them for OpenLink.
class CPortSettingsDlg : public TableDialog {
    Q_OBJECT
public:
    CPortSettingsDlg(const PortSettings& current, QWidget* parent = nullptr);

    static const ControlTable& layout();

    // Set before the dialog is shown.
    void setSendBufferText(const QString& text);
    void setDeviceName(const QString& device);
    // The port configured: the title reads "Port Configuration - COM<n>".
    void setPortNumber(int port);

    // What the lists show; meaningful after OK.
    QString baudText() const;
    QString parityText() const;
    QString dataBitsText() const;
    QString stopBitsText() const;
    QString sendBufferText() const;
    // The device chosen from the list, or the name typed.
    QString deviceName() const;

    // Refusal shown when OK meets an unusable send-buffer size.
    static QString sendBufferMessage();

    static constexpr int kBaudList = 1026;
    static constexpr int kParityList = 1027;
    static constexpr int kDataBitsList = 1028;
    static constexpr int kStopBitsList = 1029;
    static constexpr int kSendBufferList = 1043;
    static constexpr int kDeviceList = 1044;

private:
    void fillLists();
    void preselect();
    void onOk();
    void showDeviceTip();

    PortSettings m_currentSettings;
};

}  // namespace veltra
