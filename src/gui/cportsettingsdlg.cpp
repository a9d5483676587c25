#include "gui/cportsettingsdlg.h"

#include "gui/qt_prompter.h"
#include "serial/port_list.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QAbstractItemView>
#include <QStyle>

#include <algorithm>
#include <array>

namespace veltra {

namespace {

using K = ControlKind;

// Template 129 plus one row of our own: the device the slot opens, since a
// COM number alone does not name a port on every system. The dialog and its
// group box grow by one row for it.
constexpr std::array kRows = std::to_array<ControlRow>({
    {1, K::DefPushButton, "OK", 219, 5, 50, 14},
    {2, K::PushButton, "Cancel", 219, 22, 50, 14},
    {kNoId, K::GroupBox, "", 9, 2, 204, 134},
    {kNoId, K::Label, "BaudRate:", 20, 20, 35, 8, kRight},
    {kNoId, K::Label, "Parity:", 35, 38, 20, 8, kRight},
    {kNoId, K::Label, "Stopbits:", 27, 74, 28, 8, kRight},
    {kNoId, K::Label, "Sendbuffer:", 17, 92, 38, 8, kRight},
    {kNoId, K::Label, "Databits:", 26, 55, 29, 8, kRight},
    {CPortSettingsDlg::kBaudList, K::DropList, "", 67, 17, 103, 90, kNoFlags, "BaudRate:"},
    {CPortSettingsDlg::kParityList, K::DropList, "", 67, 35, 103, 90, kUpperCase, "Parity:"},
    {CPortSettingsDlg::kDataBitsList, K::DropList, "", 67, 53, 103, 90, kNoFlags, "Databits:"},
    {CPortSettingsDlg::kStopBitsList, K::DropList, "", 67, 71, 103, 90, kSorted, "Stopbits:"},
    {CPortSettingsDlg::kSendBufferList, K::DropDown, "", 67, 89, 104, 90, kNoFlags, "Sendbuffer:"},
    {kNoId, K::Label, "Device:", 17, 110, 38, 8, kRight},
    {CPortSettingsDlg::kDeviceList, K::DropDown, "", 67, 107, 140, 90, kNoFlags, "Device:"},
});

const ControlTable kLayout{"Port Configuration", 274, 145, kRows};

// Items in list order. Parity and stop bits stand in the order of their codes.
const QStringList kBaudItems{"19200", "9600", "2400", "1200", "300"};
const QStringList kParityItems{"None", "Odd", "Even", "Mark", "Space"};
const QStringList kDataBitsItems{"8", "7", "6"};
const QStringList kStopBitsItems{"1", "1.5", "2"};
const QStringList kSendBufferItems{"255", "512", "1024", "2048", "4096"};

// Selects the first item that begins with `text`, ignoring case.
bool selectByPrefix(QComboBox* list, const QString& text) {
    for (int i = 0; i < list->count(); ++i) {
        if (list->itemText(i).startsWith(text, Qt::CaseInsensitive)) {
            list->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

// A value the port has but the list lacks is offered as an extra item, so OK
// keeps it instead of quietly choosing another. Zero means the port was never
// opened: the first item stays.
void selectNumber(QComboBox* list, unsigned value) {
    if (value == 0)
        return;
    const QString text = QString::number(value);
    if (!selectByPrefix(list, text)) {
        list->addItem(text);
        list->setCurrentIndex(list->count() - 1);
    }
}

}  // namespace

const ControlTable& CPortSettingsDlg::layout() { return kLayout; }

CPortSettingsDlg::CPortSettingsDlg(const PortSettings& current, QWidget* parent)
    : TableDialog(kLayout, Frame::Fixed, parent), m_currentSettings(current) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    fillLists();
    preselect();
    connect(control<QPushButton>(1), &QPushButton::clicked, this, &CPortSettingsDlg::onOk);
    connect(control<QPushButton>(2), &QPushButton::clicked, this, &QDialog::reject);
}

void CPortSettingsDlg::fillLists() {
    control<QComboBox>(kBaudList)->addItems(kBaudItems);
    QStringList parity;
    for (const QString& p : kParityItems)
        parity.append(p.toUpper());
    control<QComboBox>(kParityList)->addItems(parity);
    control<QComboBox>(kDataBitsList)->addItems(kDataBitsItems);
    QStringList stop = kStopBitsItems;
    stop.sort();  // a sorted list; the codes' order is also the sorted order
    control<QComboBox>(kStopBitsList)->addItems(stop);
    control<QComboBox>(kSendBufferList)->addItems(kSendBufferItems);

    auto* devices = control<QComboBox>(kDeviceList);
    int widest = 0;
    const QFontMetrics fm(devices->view()->font());
    const auto add = [&](const QString& shown, const QString& device, const QString& tip) {
        devices->addItem(shown, device);
        devices->setItemData(devices->count() - 1, tip, Qt::ToolTipRole);
        widest = std::max(widest, fm.horizontalAdvance(shown));
    };
    // Each port, then the names that stay the same when it is plugged in elsewhere.
    for (const PortInfo& port : listPorts()) {
        const QString device = QString::fromStdString(port.device);
        const QString description = QString::fromStdString(port.description);
        const QString shown = description.isEmpty() ? device : QStringLiteral("%1 - %2").arg(device, description);
        add(shown, device, description.isEmpty() ? device : device + u'\n' + description);
        for (const std::string& link : port.byId) {
            const QString name = QString::fromStdString(link);
            add(name, name, name + u'\n' + shown);
        }
    }
    devices->setCurrentIndex(-1);
    // A /dev/serial/by-id/... path is far longer than the field: the dropped
    // list is as wide as its longest entry, never cut short.
    devices->view()->setTextElideMode(Qt::ElideNone);
    const int frame = 2 * devices->view()->frameWidth() + devices->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    devices->view()->setMinimumWidth(std::max(devices->width(), widest + frame + 2 * fm.averageCharWidth()));
    connect(devices, &QComboBox::currentTextChanged, this, &CPortSettingsDlg::showDeviceTip);
}

void CPortSettingsDlg::showDeviceTip() {
    // The whole path, and what the system says the port is.
    auto* devices = control<QComboBox>(kDeviceList);
    const int index = devices->currentIndex();
    const bool listed = index >= 0 && devices->itemText(index) == devices->currentText();
    devices->setToolTip(listed ? devices->itemData(index, Qt::ToolTipRole).toString() : devices->currentText());
}

void CPortSettingsDlg::setPortNumber(int port) {
    setWindowTitle(QStringLiteral("%1 - COM%2").arg(QString::fromUtf8(kLayout.caption)).arg(port));
}

void CPortSettingsDlg::preselect() {
    // An empty text selects the first item of each list; then each list is
    // pointed at the port's current value.
    for (int id : {kBaudList, kParityList, kDataBitsList, kStopBitsList})
        control<QComboBox>(id)->setCurrentIndex(0);
    selectNumber(control<QComboBox>(kBaudList), m_currentSettings.baudRate);
    if (m_currentSettings.parity < kParityItems.size())
        control<QComboBox>(kParityList)->setCurrentIndex(m_currentSettings.parity);
    if (m_currentSettings.stopBits < kStopBitsItems.size())
        control<QComboBox>(kStopBitsList)->setCurrentIndex(m_currentSettings.stopBits);
    selectNumber(control<QComboBox>(kDataBitsList), m_currentSettings.dataBits);
}

void CPortSettingsDlg::setSendBufferText(const QString& text) {
    auto* list = control<QComboBox>(kSendBufferList);
    const int index = list->findText(text, Qt::MatchFixedString);
    list->setCurrentIndex(index);
    list->setEditText(text);
}

void CPortSettingsDlg::setDeviceName(const QString& device) {
    auto* list = control<QComboBox>(kDeviceList);
    const int index = list->findData(device);
    list->setCurrentIndex(index);
    if (index < 0)
        list->setEditText(device);
    showDeviceTip();
}

QString CPortSettingsDlg::baudText() const { return control<QComboBox>(kBaudList)->currentText(); }
QString CPortSettingsDlg::parityText() const { return control<QComboBox>(kParityList)->currentText(); }
QString CPortSettingsDlg::dataBitsText() const { return control<QComboBox>(kDataBitsList)->currentText(); }
QString CPortSettingsDlg::stopBitsText() const { return control<QComboBox>(kStopBitsList)->currentText(); }
QString CPortSettingsDlg::sendBufferText() const { return control<QComboBox>(kSendBufferList)->currentText(); }

QString CPortSettingsDlg::deviceName() const {
    const auto* list = control<QComboBox>(kDeviceList);
    const int index = list->currentIndex();
    // A listed port shows its description too; what the link needs is its device.
    if (index >= 0 && list->itemText(index) == list->currentText())
        return list->itemData(index).toString();
    return list->currentText().trimmed();
}

QString CPortSettingsDlg::sendBufferMessage() {
    return QStringLiteral("Send buffer must be at least %1 bytes! Please retype.").arg(kMinSendBufferSize);
}

void CPortSettingsDlg::onOk() {
    // Every command must fit the send buffer whole.
    // The lists offer only what a port takes; the send buffer is typed.
    const std::vector<LineField> unusable = unusableLineFields(
        convertDialogTexts(baudText(), parityText(), dataBitsText(), stopBitsText(), sendBufferText()));
    if (std::find(unusable.begin(), unusable.end(), LineField::SendBuffer) != unusable.end()) {
        showWarningBox(this, sendBufferMessage());
        return;
    }
    accept();
}

}  // namespace veltra
