#include "shell/MainFrame.h"
