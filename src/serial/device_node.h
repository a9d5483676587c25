#pragma once

#include <QString>

namespace veltra {

// What a device path names on this system, for telling the operator why it
// did not open. Told by the platform's file (serial_platform_<platform>.cpp).
struct DeviceNode {
    enum class Kind {
        Missing,        // nothing at that path
        CharDevice,     // a character device, as serial ports are
        Other,          // a regular file, a directory, a socket, ...
        Unknown,        // the platform cannot tell
    };
    Kind kind = Kind::Unknown;
    QString typeName;   // for Other: "a regular file", "a directory", ...
    QString group;      // the owning group's name, where the platform has one
    bool readWritable = true;  // the current user may open it for reading and writing
    // A lock file left for the device by a program that has ended, where the
    // platform uses lock files; empty otherwise.
    QString staleLock;
};

DeviceNode inspectDeviceNode(const QString& path);

// The lock file serial programs use for `device` ("/var/lock/LCK..ttyUSB0"),
// found as the serial port library finds it; empty where there is none.
QString deviceLockFile(const QString& device);
// The process named in a lock file has ended without removing it.
bool lockFileIsStale(const QString& lockFile);

}  // namespace veltra
