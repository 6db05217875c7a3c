#include "foundation/Lock.h"
#include "config/Settings.h"
