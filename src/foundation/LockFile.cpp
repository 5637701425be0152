#include "foundation/LockFile.h"
