#include "serial/port_list.h"

#include "serial/serial_platform.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <tuple>

namespace veltra {

std::vector<PortInfo> listPorts() {
    std::vector<PortInfo> out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortInfo p;
        p.device = serial_platform::listedName(info).toStdString();
        p.description = info.description().toStdString();
        if (p.description.empty()) p.description = info.manufacturer().toStdString();
        for (const QString& name : serial_platform::stableNames(info)) p.byId.push_back(name.toStdString());
        out.push_back(std::move(p));
    }
    sortPorts(out);
    return out;
}

void sortPorts(std::vector<PortInfo>& ports) {
    // The name's stem, then its trailing number by length and digits.
    const auto key = [](const std::string& name) {
        std::size_t digits = name.size();
        while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
        return std::tuple(name.substr(0, digits), name.size() - digits, name.substr(digits));
    };
    std::stable_sort(ports.begin(), ports.end(),
                     [&](const PortInfo& a, const PortInfo& b) { return key(a.device) < key(b.device); });
}

}  // namespace veltra
