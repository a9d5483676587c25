#include "cli/cli_output.h"

#include "protocol/traffic_line.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace veltra::cli {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

TimerValue cycleOf(const StatusRecord& r) {
    return cycleTime(r);
}

// Cycles left as a number or "continuous".
QJsonValue cyclesLeft(int left) {
    if (left == kContinuousCount) return QStringLiteral("continuous");
    return left;
}

}  // namespace

std::string isoTime(std::chrono::system_clock::time_point time) {
    // The traffic line starts with exactly this stamp.
    const std::string line = trafficLine(time, true, {}, nullptr, 0);
    return line.substr(0, line.find(' '));
}

std::string jsonLine(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

QJsonObject statusJson(const StatusRecord& r) {
    QJsonObject o;
    o[QStringLiteral("shutter")] = q(shutterName(r.position()));
    o[QStringLiteral("mode")] = q(modeName(r.mode()));
    o[QStringLiteral("nd_steps")] = r.ndSteps;
    o[QStringLiteral("trigger")] = q(triggerName(r.trigger()));
    o[QStringLiteral("sync")] = q(syncName(r.sync()));
    o[QStringLiteral("delay")] = q(timerText(r.delayTime));
    o[QStringLiteral("exposure")] = q(timerText(r.exposureTime));
    o[QStringLiteral("cycle_time")] = q(timerText(cycleOf(r)));
    if (repeatCount(r) == kContinuousCount)
        o[QStringLiteral("repeat")] = QStringLiteral("continuous");
    else
        o[QStringLiteral("repeat")] = repeatCount(r);
    o[QStringLiteral("running_option")] = q(runningOptionName(r.running()));
    return o;
}

std::string statusText(const StatusRecord& r) {
    std::string mode = modeName(r.mode());
    if (r.mode() == ShutterMode::NeutralDensity) mode += " (" + std::to_string(r.ndSteps) + " steps)";
    const std::pair<const char*, std::string> rows[] = {
        {"shutter", shutterName(r.position())},
        {"mode", mode},
        {"trigger", triggerName(r.trigger())},
        {"sync", syncName(r.sync())},
        {"delay", timerText(r.delayTime)},
        {"exposure", timerText(r.exposureTime)},
        {"cycle time", timerText(cycleOf(r))},
        {"repeat", repeatName(repeatCount(r))},
        {"running option", runningOptionName(r.running())},
    };
    std::string out;
    for (const auto& [name, value] : rows) {
        char line[128];
        std::snprintf(line, sizeof line, "%-16s%s\n", name, value.c_str());
        out += line;
    }
    return out;
}

QJsonObject lineSettingsJson(const LineSettings& line) {
    return {{QStringLiteral("baud"), static_cast<qint64>(line.baud)},
            {QStringLiteral("data_bits"), line.dataBits},
            {QStringLiteral("parity"), q(line.parity)},
            {QStringLiteral("stop_bits"), q(line.stopBits)}};
}

QJsonObject infoJson(const InfoLines& info) {
    return {{QStringLiteral("line1"), q(info.first)}, {QStringLiteral("line2"), q(info.second)}};
}

QJsonObject portsJson(const std::vector<PortInfo>& ports) {
    QJsonArray list;
    for (const PortInfo& p : ports) {
        QJsonArray byId;
        for (const auto& link : p.byId) byId.append(q(link));
        list.append(QJsonObject{{QStringLiteral("device"), q(p.device)},
                                {QStringLiteral("description"), q(p.description)},
                                {QStringLiteral("by_id"), byId}});
    }
    return {{QStringLiteral("ports"), list}};
}

std::string portsText(const std::vector<PortInfo>& ports) {
    if (ports.empty()) return "no serial ports found\n";
    std::string out;
    for (const PortInfo& p : ports) {
        out += p.device + "  " + (p.description.empty() ? "(no description)" : p.description) + "\n";
        for (const auto& link : p.byId) out += "    " + link + "\n";
    }
    return out;
}

QJsonObject runEventJson(const RunEvent& e) {
    return {{QStringLiteral("time"), q(isoTime(e.time))},
            {QStringLiteral("event"), QStringLiteral("report")},
            {QStringLiteral("shutter"), q(shutterName(e.position))},
            {QStringLiteral("counted"), e.counted},
            {QStringLiteral("cycles_left"), cyclesLeft(e.cyclesLeft)}};
}

std::string runEventText(const RunEvent& e) {
    return isoTime(e.time) + "  " + (e.position == ShutterPosition::Open ? "opened" : "closed") + "  cycles left " +
           repeatName(e.cyclesLeft) + "\n";
}

QJsonObject runEndJson(std::chrono::system_clock::time_point time) {
    return {{QStringLiteral("time"), q(isoTime(time))}, {QStringLiteral("event"), QStringLiteral("end")}};
}

QJsonObject trafficJson(std::chrono::system_clock::time_point time, bool tx, const std::string& port,
                        const std::uint8_t* bytes, std::size_t n) {
    QString hex;
    for (std::size_t i = 0; i < n; ++i)
        hex += (i ? QStringLiteral(" ") : QString()) + QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    return {{QStringLiteral("time"), q(isoTime(time))},
            {QStringLiteral("direction"), tx ? QStringLiteral("TX") : QStringLiteral("RX")},
            {QStringLiteral("port"), q(port)},
            {QStringLiteral("bytes"), hex}};
}

QJsonObject differencesJson(const std::vector<Difference>& differences) {
    QJsonArray list;
    for (const Difference& d : differences)
        list.append(QJsonObject{{QStringLiteral("field"), q(d.field)},
                                {QStringLiteral("wanted"), q(d.wanted)},
                                {QStringLiteral("read"), q(d.read)}});
    return {{QStringLiteral("verified"), false}, {QStringLiteral("differences"), list}};
}

}  // namespace veltra::cli
