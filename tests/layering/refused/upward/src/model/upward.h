// A model header reaching up into the panel: the check must refuse it.
#include "panel/shutter_panel.h"
