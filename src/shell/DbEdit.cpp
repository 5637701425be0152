#include "shell/DbEdit.h"
