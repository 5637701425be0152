#include <cctype>
#include <cstdlib>
#include <string>

#include "audio_io/AudioDevice.h"
#include "audio_io/NullAudio.h"
#include "foundation/SettingsStore.h"

namespace sonitor {

// Defined in PortAudioBackend.cpp: the process's PortAudio backend, which
// initialises the library on first use.
AudioBackend& PortAudioBackendInstance();

namespace {

bool IsNull(const std::string& name) {
    std::string lower = name;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower == "null";
}

}  // namespace

AudioBackend& CurrentAudioBackend(const SettingsStore& settings) {
    // The environment wins so that tests and CI never reach a sound card,
    // whatever the user's settings say.
    if (const char* chosen = std::getenv("SONITOR_AUDIO"); chosen != nullptr && chosen[0] != '\0') {
        return IsNull(chosen) ? static_cast<AudioBackend&>(NullAudio()) : PortAudioBackendInstance();
    }
    if (IsNull(settings.ReadString("Settings", "AudioBackend"))) return NullAudio();
    return PortAudioBackendInstance();
}

AudioBackend& CurrentAudioBackend() {
    return CurrentAudioBackend(Settings());
}

}  // namespace sonitor
