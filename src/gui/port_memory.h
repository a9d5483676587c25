#pragma once

#include "serial/port_settings.h"

#include <QString>

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

}  // namespace veltra
