#include "foundation/Paths.h"
