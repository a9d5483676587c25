#pragma once

#include <QSerialPort>
#include <QSerialPortInfo>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <utility>

// What the serial link needs from the operating system beyond QSerialPort.
// One implementation per platform (serial_platform_posix.cpp,
// serial_platform_win.cpp); the link itself has no platform code.
namespace veltra::serial_platform {

// The descriptor or handle the port runs on (an int on Unix, a HANDLE on Windows).
using NativeHandle = decltype(std::declval<const QSerialPort&>().handle());

// A pseudo-terminal carries bytes without line framing or modem lines.
bool isPseudoTerminal(NativeHandle handle, const QString& device);
// Whether the line really holds this framing (some drivers take a setting
// and quietly drop it). True where the platform cannot tell.
bool lineHolds(NativeHandle handle, std::uint8_t parityCode, int dataBits, int stopBits);
// The device has gone away under an open handle (hung up).
bool hungUp(NativeHandle handle);
// What tells one device from another whatever path names it (a symbolic
// link, /dev/serial/by-id/...): equal for two names of one device; empty
// where the platform cannot tell.
QString deviceIdentity(const QString& device);

// What the link asks of the system, for the error box: "<call> Failed with
// the following error". Each platform names the call it really makes.
enum class LineCall { Read, Write, Purge, SetLine };
QString callName(LineCall call);

// A port as a list of ports shows it: the name that opens it (its path on
// Unix, COMn on Windows), and other names that lead to the same device
// whatever order devices were plugged in (Linux's /dev/serial/by-id).
QString listedName(const QSerialPortInfo& info);
QStringList stableNames(const QSerialPortInfo& info);
// Where to find the right name when a device does not exist.
QString findDeviceHint();

// The device a name given on a command line or by a script means, the same
// for the panel, veltractl and Python: on Unix a relative path is taken from
// the working folder (never as a short name under /dev); a network device and
// a Windows port name (COM3) stay as they are.
QString devicePath(const QString& name);
// The device of COM port number N when none is given: /dev/ttyS<N-1>, COMn.
QString defaultDeviceName(int portNumber);

}  // namespace veltra::serial_platform
