#include "shell/SingleInstance.h"
