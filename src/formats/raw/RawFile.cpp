#include "formats/raw/RawFile.h"

#include "formats/raw/RawCodings.h"
#include "formats/raw/RawIo.h"
#include "formats/raw/RawSampleSink.h"
#include "formats/raw/RawSampleSource.h"
#include "formats/raw/Vox.h"

namespace sonitor {

Ref<AudioSource> OpenRawSource(const RawSettings& settings, const std::string& path) {
    if (!IsRawCoding(settings.codec)) return MakeNullSource(1);
    if (settings.codec == kRawVox) return OpenVoxSource(path, settings.sampleRate);
    UniqueFd file = rawio::OpenForReading(path);
    if (!file) return MakeNullSource(kSourceCannotOpen);
    return MakeRef<RawSampleSource>(std::move(file), 0, -1, settings.codec, settings.sampleRate,
                                    settings.channels);
}

Ref<AudioSink> CreateRawSink(const RawSettings& settings, const std::string& path) {
    if (!IsRawCoding(settings.codec)) return MakeNullSink();
    if (settings.codec == kRawVox) return CreateVoxSink(path, settings.sampleRate);
    return MakeRef<RawSampleSink>(path, settings.codec, settings.sampleRate, settings.channels);
}

}  // namespace sonitor
