#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "effects/EffectCatalogue.h"
#include "foundation/AudioSource.h"

namespace sonitor {

class AudioClip;
class ProgressTask;

// --- Multi-band noise gate ------------------------------------------------------

// The gate ("NoiseGateLevel", dB): everything below about 50 Hz is removed,
// the rest is split into four bands that each open while their block peak
// stays above a threshold derived from the level. Levels are clamped to
// -127..127; at the lowest levels the thresholds saturate and the gate stays
// open.
Ref<AudioSource> CreateNoiseGate(Ref<AudioSource> source, int levelDb);

// --- Spectral subtraction --------------------------------------------------------

// A noise magnitude per channel and frequency bin of frames of fftSize
// points (fftSize / 2 bins), on the unscaled forward transform of
// Hamming-windowed frames.
struct NoiseProfile {
    int32_t fftSize = 0;
    int channels = 0;
    std::vector<std::vector<double>> magnitudes;  // [channel][bin]
};

// The frame size of spectral subtraction at a rate: the smallest power of
// two, at least 8, not below n - n/4 with n = rate / 33 (1024 at 44100 Hz).
int32_t NoiseFftSize(int32_t sampleRate);

// The fewest frames a profile can be built from: ten analysis frames. With
// fewer the percentile rule always picks the lowest level and the profile
// would remove nothing.
int32_t MinimumNoiseFrames(int32_t sampleRate);

// Builds a profile from frames [start, end) of source (which is seeked
// there) at the percentile (0..100): per bin, the whole-decibel level that
// `percentile` percent of the analysis frames do not exceed. kTaskDone,
// kTaskCancelled, or kTaskFailed when the range holds fewer than
// MinimumNoiseFrames.
int32_t BuildNoiseProfile(ProgressTask& task, AudioSource& source, int32_t start, int32_t end, int percentile,
                          NoiseProfile& profile);

// The subtraction processor: per channel, what the profile calls noise is
// taken out of each bin, keeping the phase. The output is aligned with the
// input sample for sample (it reads ahead of what it delivers). The
// profile should match the source (NoiseProfileMatches); one without a
// curve for every channel leaves the source as it is.
Ref<AudioSource> CreateSpectralSubtraction(Ref<AudioSource> source,
                                           std::shared_ptr<const NoiseProfile> profile);
bool NoiseProfileMatches(const NoiseProfile& profile, int32_t sampleRate, int channels);

// --- Get Noise Sample -------------------------------------------------------------

extern const char* const kNoiseSampleErrorTitle;      // "Manual Noise Reduction Error"
extern const char* const kNoiseSampleTooLongMessage;  // above 8 seconds
extern const char* const kNoiseSampleMismatchMessage;

// Why a sample of this many frames cannot be taken (longer than 8 seconds,
// or shorter than MinimumNoiseFrames), titled kNoiseSampleErrorTitle; or
// nothing.
std::optional<InvalidValue> NoiseSampleRefusal(int64_t frames, int32_t sampleRate);

// The work of "Get Noise Sample": the profile of [start, end) of clip at the
// 90th percentile replaces the stored one. The caller checks
// NoiseSampleRefusal first; a range it refuses fails here without a change.
int32_t TakeNoiseSample(ProgressTask& task, const AudioClip& clip, int32_t start, int32_t end);

// The stored profile (kept until the program exits), or null; while there
// is one the noise-sample command is enabled.
std::shared_ptr<const NoiseProfile> StoredNoiseSample();
void StoreNoiseSample(std::shared_ptr<const NoiseProfile> profile);

// --- Click and pop repair -----------------------------------------------------------

// Automatic restoration over a stream: "ClickSensitivity" 0..100 (higher
// finds more) and "MaxClickLength" in microseconds (1..kMaxClickLengthLimit;
// values outside are brought into that range).
inline constexpr int32_t kMaxClickLengthLimit = 20000;
Ref<AudioSource> CreateAutoClickRepair(Ref<AudioSource> source, int sensitivity, int32_t maxClickLength);

// Manual repair of a selection of selectionFrames frames, which the stream
// is seeked to the start of: the clicks detected around it are repaired.
// Selections up to ManualClickRepairLimit frames (one millisecond) are
// allowed.
Ref<AudioSource> CreateManualClickRepair(Ref<AudioSource> source, int32_t selectionFrames);
int32_t ManualClickRepairLimit(int32_t sampleRate);
extern const char* const kManualClickTooLongMessage;

}  // namespace sonitor
