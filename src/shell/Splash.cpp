#include "shell/Splash.h"
