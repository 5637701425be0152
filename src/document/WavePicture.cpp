#include "document/WavePicture.h"
