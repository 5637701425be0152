#include "foundation/WorkingFolder.h"
