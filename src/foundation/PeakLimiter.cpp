#include "foundation/PeakLimiter.h"
