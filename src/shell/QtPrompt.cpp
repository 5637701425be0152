#include "shell/QtPrompt.h"
