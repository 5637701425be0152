#include "shell/WaveWindow.h"
