#include "foundation/ConvertStream.h"
