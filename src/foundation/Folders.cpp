#include "foundation/Folders.h"
