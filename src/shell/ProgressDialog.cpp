#include "shell/ProgressDialog.h"
