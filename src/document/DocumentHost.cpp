#include "document/DocumentHost.h"

namespace sonitor {

void DocumentHost::StartPlayback(SoundDocument&, int32_t) {}
void DocumentHost::DocumentChanged(SoundDocument&) {}
void DocumentHost::CommandStatesChanged(SoundDocument&) {}
std::optional<std::string> DocumentHost::ChooseSaveFile(const SaveFileDialog&) {
    return std::nullopt;
}
void DocumentHost::DocumentOpened(SoundDocument&) {}
void DocumentHost::DocumentClosing(SoundDocument&) {}
bool DocumentHost::ShowFormatOptions(const std::string&, int32_t, int) {
    return true;
}

}  // namespace sonitor
