#include "document/DocumentHost.h"

namespace sonitor {

void DocumentHost::StartPlayback(SoundDocument&, int32_t) {}
void DocumentHost::DocumentChanged(SoundDocument&) {}
void DocumentHost::CommandStatesChanged(SoundDocument&) {}

}  // namespace sonitor
