#include "shell/HandoffRecord.h"
