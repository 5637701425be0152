#include "foundation/SettingsStore.h"
