#include "document/WorkingFileTable.h"
