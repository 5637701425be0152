#include "shell/EditDialogs.h"
