#pragma once

#include "serial/port_settings.h"

#include <QString>

#include <memory>
#include <optional>

class QSettings;

namespace veltra {

// What "Configurate" chose for one COM port, remembered for the next start.
struct RememberedPort {
    QString device;
    PortSettingsRequest line;
    bool operator==(const RememberedPort&) const = default;
};

// Kept in `settings` under "COM<port>/...". Nothing (or nothing usable, as a
// hand-edited file may hold) gives nullopt: the port starts as it always did.
std::optional<RememberedPort> rememberedPort(QSettings& settings, int port);
void rememberPort(QSettings& settings, int port, const RememberedPort& remembered);

// Where the panel remembers its ports: the user's configuration file
// (~/.config/Veltra/veltra-utility.conf, $XDG_CONFIG_HOME if set) or, on
// Windows, the registry. Nothing, and the reason in *refusal, when that file
// is there but is not a regular file (a FIFO would hang the start, a device
// or a folder holds no settings): the ports then start with their defaults.
std::unique_ptr<QSettings> openPortMemory(QString* refusal);

}  // namespace veltra
