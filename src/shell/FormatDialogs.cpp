#include "shell/FormatDialogs.h"
