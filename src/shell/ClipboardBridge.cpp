#include "shell/ClipboardBridge.h"
