#include "document/ClipWriter.h"
