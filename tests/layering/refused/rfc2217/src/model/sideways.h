// A model header reaching into the network codec: the check must refuse it.
#include "rfc2217/rfc2217_codec.h"
