#include "foundation/FileUtil.h"
