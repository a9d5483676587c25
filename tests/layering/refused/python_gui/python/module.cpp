// The Python module reaching into the widgets: the check must refuse it.
#include "client/veltra_client.h"
#include "gui/cshutterpaneldlg.h"
