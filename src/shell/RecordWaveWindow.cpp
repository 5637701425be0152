#include "shell/RecordWaveWindow.h"
