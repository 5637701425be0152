#include "document/ClipReader.h"
