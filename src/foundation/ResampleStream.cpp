#include "foundation/ResampleStream.h"
