#include "foundation/Numbers.h"
