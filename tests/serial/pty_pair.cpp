// Built into every test program that plays a device; the helper itself is all inline.
#include "serial/pty_pair.h"
