#include "shell/WaveView.h"
