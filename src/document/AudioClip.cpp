#include "document/AudioClip.h"
