#include "gui/resources.h"

#include <QDir>

// Resources of a static library are registered by hand: nothing else would
// pull their object file into the program.
static void initVeltraResources() { Q_INIT_RESOURCE(veltra); }

namespace veltra {

QIcon appIcon() {
    static const bool registered = (initVeltraResources(), true);
    (void)registered;
    return QIcon(QStringLiteral(":/veltra/veltra.png"));
}

}  // namespace veltra
