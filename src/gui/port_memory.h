#pragma once

#include "serial/port_settings.h"

#include <QString>

#include <memory>

class QSettings;

namespace veltra {

// What "Configurate" chose for one COM port, remembered for the next start.
struct RememberedPort {
    QString device;
    PortSettingsRequest line;
    bool operator==(const RememberedPort&) const = default;
};

// Kept in `settings` under "COM<port>/...": `start` with each remembered
// field in its place. A field the port cannot use (a hand-edited file may
// hold anything) is ignored, with a line on stderr; the start's stays.
RememberedPort rememberedPort(QSettings& settings, int port, RememberedPort start);
void rememberPort(QSettings& settings, int port, const RememberedPort& remembered);

// Where the panel remembers its ports: the user's configuration file
// (~/.config/Veltra/veltra-utility.conf, $XDG_CONFIG_HOME if set) or, on
// Windows, the registry. Nothing, and the reason in *refusal, when that file
// is there but is not a regular file (a FIFO would hang the start, a device
// or a folder holds no settings): the ports then start with their defaults.
std::unique_ptr<QSettings> openPortMemory(QString* refusal);

}  // namespace veltra
