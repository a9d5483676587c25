#pragma once

#include "client/setting_names.h"
#include "client/veltra_client.h"
#include "serial/port_list.h"

#include <QJsonObject>

#include <chrono>
#include <string>
#include <vector>

namespace veltra::cli {

// Local time with milliseconds: "2026-12-06T22:15:03.123".
std::string isoTime(std::chrono::system_clock::time_point time);

// One JSON object on one line, with its newline.
std::string jsonLine(const QJsonObject& object);

// A status reply under the names scripts use: shutter, mode, nd_steps,
// trigger, sync, delay, exposure, cycle_time, repeat, running_option.
QJsonObject statusJson(const StatusRecord& r);
// The same as "name  value" lines.
std::string statusText(const StatusRecord& r);

QJsonObject infoJson(const InfoLines& info);
QJsonObject portsJson(const std::vector<PortInfo>& ports);
std::string portsText(const std::vector<PortInfo>& ports);

// One report of a followed run, and the run's end.
QJsonObject runEventJson(const RunEvent& e);
std::string runEventText(const RunEvent& e);
QJsonObject runEndJson(std::chrono::system_clock::time_point time);

// Traffic on the line: time, direction, port, hex bytes.
QJsonObject trafficJson(std::chrono::system_clock::time_point time, bool tx, const std::string& port,
                        const std::uint8_t* bytes, std::size_t n);

// The line as the device has it: baud, data_bits, parity, stop_bits.
QJsonObject lineSettingsJson(const LineSettings& line);

QJsonObject differencesJson(const std::vector<Difference>& differences);

}  // namespace veltra::cli
