#include "formats/WavCodec.h"

#include <map>
#include <mutex>

#include "formats/WavCodecs.h"

namespace sonitor {

namespace {

struct RegisteredCodec {
    CodecFactory decoder;
    CodecFactory encoder;
};

std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}
std::map<uint16_t, RegisteredCodec>& Registry() {
    static std::map<uint16_t, RegisteredCodec> codecs;
    return codecs;
}

CodecStatus OpenRegistered(const WaveFormat& coded, bool decode, std::unique_ptr<CodecStream>* stream) {
    CodecFactory factory;
    {
        std::lock_guard lock(RegistryMutex());
        const auto it = Registry().find(coded.tag);
        if (it == Registry().end()) return CodecStatus::kNotSupported;
        factory = decode ? it->second.decoder : it->second.encoder;
    }
    if (!factory) return CodecStatus::kNotSupported;
    const CodecStatus status = factory(coded, stream);
    if (status != CodecStatus::kOk && stream) stream->reset();
    return status;
}

bool IsPcm16(const WaveFormat& f) {
    return EffectiveWaveTag(f) == kWaveTagPcm && f.bitsPerSample == 16;
}

bool SameShape(const WaveFormat& a, const WaveFormat& b) {
    return a.channels == b.channels && a.samplesPerSec == b.samplesPerSec;
}

}  // namespace

WaveFormat Pcm16FormatFor(const WaveFormat& format) {
    const uint16_t channels = format.channels == 0 ? 1 : format.channels;
    return MakePcmWaveFormat(format.samplesPerSec, 16, channels);
}

CodecStatus OpenCodecStream(const WaveFormat& from, const WaveFormat& to,
                            std::unique_ptr<CodecStream>* stream) {
    if (stream) stream->reset();
    const bool fromPcm = IsPcm16(from);
    const bool toPcm = IsPcm16(to);
    // The layer changes the coding only, never the rate or channel count.
    if (fromPcm == toPcm) return CodecStatus::kNotSupported;
    if (!SameShape(from, to)) return CodecStatus::kNotSupported;
    const WaveFormat& coded = toPcm ? from : to;
    if (coded.channels == 0 || coded.samplesPerSec == 0) return CodecStatus::kBadFormat;
    const CodecStatus status = toPcm ? MakeWavDecoder(coded, stream) : MakeWavEncoder(coded, stream);
    if (status != CodecStatus::kNotSupported) return status;
    return OpenRegistered(coded, toPcm, stream);
}

void RegisterWavCodec(uint16_t tag, CodecFactory decoder, CodecFactory encoder) {
    std::lock_guard lock(RegistryMutex());
    Registry()[tag] = RegisteredCodec{std::move(decoder), std::move(encoder)};
}

}  // namespace sonitor
