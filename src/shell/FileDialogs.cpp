#include "shell/FileDialogs.h"
