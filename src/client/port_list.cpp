#include "client/port_list.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace veltra {

std::vector<PortInfo> listPorts() {
    std::vector<PortInfo> out;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    const QFileInfoList links = byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortInfo p;
        p.device = info.systemLocation().toStdString();
        p.description = info.description().toStdString();
        if (p.description.empty()) p.description = info.manufacturer().toStdString();
        for (const QFileInfo& link : links)
            if (link.canonicalFilePath() == QFileInfo(info.systemLocation()).canonicalFilePath())
                p.byId.push_back(link.absoluteFilePath().toStdString());
        out.push_back(std::move(p));
    }
    return out;
}

}  // namespace veltra
