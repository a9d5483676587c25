#pragma once

#include <QSerialPort>
#include <QString>

#include <cstdint>
#include <utility>

// What the serial link needs from the operating system beyond QSerialPort.
// One implementation per platform (serial_platform_unix.cpp,
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
// Opening was refused because the user may not use the device at all (as
// opposed to another program holding it); `hint` then says what to do.
bool lacksPermission(const QString& device, QString* hint);
// What tells one device from another whatever path names it (a symbolic
// link, /dev/serial/by-id/...): equal for two names of one device; empty
// where the platform cannot tell.
QString deviceIdentity(const QString& device);

// What the link asks of the system, for the error box: "<call> Failed with
// the following error". Each platform names the call it really makes.
enum class LineCall { Read, Write, Purge, SetLine };
QString callName(LineCall call);

}  // namespace veltra::serial_platform
