#include "formats/raw/RawSettings.h"

#include "formats/raw/RawCodings.h"
#include "foundation/SettingsStore.h"

namespace sonitor {

RawSettings DefaultRawSettings(const std::string& section) {
    RawSettings s;
    if (section == kVoxAudioSection) {
        s.sampleRate = 8000;
        s.codec = kRawVox;
    } else {
        s.sampleRate = 44100;
        s.codec = kRawPcm16LE;
    }
    s.channels = 1;
    return s;
}

RawSettings LoadRawSettings(const SettingsStore& store, const std::string& section) {
    const RawSettings defaults = DefaultRawSettings(section);
    RawSettings s;
    s.sampleRate = store.ReadInt(section, "SampleRate", defaults.sampleRate);
    // The count is a byte; an unusable 0 means mono.
    s.channels = static_cast<uint8_t>(store.ReadInt(section, "Channels", defaults.channels));
    if (s.channels == 0) s.channels = 1;
    s.codec = store.ReadInt(section, "Codec", defaults.codec);
    return s;
}

bool StoreRawSettings(const SettingsStore& store, const std::string& section, const RawSettings& settings) {
    bool ok = store.WriteInt(section, "Codec", settings.codec);
    ok = store.WriteInt(section, "SampleRate", settings.sampleRate) && ok;
    ok = store.WriteInt(section, "Channels", settings.channels) && ok;
    return ok;
}

bool AcceptCodecSettings(const SettingsStore& store, const std::string& section,
                         const RawSettings& settings) {
    if (settings.sampleRate < kMinRawRate || settings.sampleRate > kMaxRawRate) return false;
    StoreRawSettings(store, section, settings);
    return true;
}

}  // namespace sonitor
