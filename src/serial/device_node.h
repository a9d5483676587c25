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
};

DeviceNode inspectDeviceNode(const QString& path);

}  // namespace veltra
