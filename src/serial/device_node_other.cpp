#include "serial/device_node.h"

#include <QFileInfo>

namespace veltra {

// Port names such as COM3 are no paths here: only a missing path is told apart.
DeviceNode inspectDeviceNode(const QString& path) {
    DeviceNode node;
    if (path.contains(u'/') && !QFileInfo::exists(path))
        node.kind = DeviceNode::Kind::Missing;
    return node;
}

}  // namespace veltra
