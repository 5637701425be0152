// Effects that set the loudness of the selection: amplify, normalize, the
// envelope engine with the fades, and cross fade. The family's catalogue
// entries, including the dynamics effects of Dynamics.cpp, are added here.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "document/ProgressTask.h"
#include "effects/EffectCatalogue.h"
#include "effects/Envelope.h"
#include "effects/PointRecord.h"
#include "foundation/Numbers.h"

namespace sonitor {

// Dynamics.cpp
void AddDynamicsEffects(std::vector<EffectDefinition>& catalogue);

namespace {

int32_t AddWrapping(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// --- Amplify and normalize --------------------------------------------------------

struct AmplifyValues {
    int32_t percent = 100;
    static AmplifyValues From(const EffectValues& values) { return {IntValue(values, "AmplifyGain")}; }
    std::optional<InvalidValue> Validate() const {
        if (percent > 400)
            return InvalidEffectValue("Amplify Gain must be less than 400%. Please try again.");
        return std::nullopt;
    }
};

struct NormalizeValues {
    int32_t level = 100;
    static NormalizeValues From(const EffectValues& values) {
        return {IntValue(values, "NormalizePeakLevel")};
    }
    std::optional<InvalidValue> Validate() const {
        // The message's spelling is the one users have always seen.
        if (level > 100)
            return InvalidEffectValue("Normailze Peak Level must be less than 100%. Please try again.");
        return std::nullopt;
    }
};

// Amplify changes the gains of the selection's pieces, not their samples:
// instant, and undone without loss. ScaledGain saturates instead of
// wrapping, and a piece already at the largest gain still comes down when
// it is made quieter.
int32_t Amplify(EffectRange& range, int32_t percent) {
    ClipScaleRange(range.clip, range.start, range.end, percent);
    return kTaskDone;
}

int32_t Normalize(ProgressTask& task, EffectRange& range, int32_t level) {
    SetProgressText(task, 0, "Normalizing");
    SetProgressText(task, 1, "Please wait...");
    if (range.end <= range.start) return kTaskDone;
    Ref<ClipReader> reader = OpenClipReader(range.clip);
    const auto count = static_cast<size_t>(reader->Channels());
    std::vector<int32_t> block(static_cast<size_t>(kMaxTransferFrames) * count);
    reader->Seek(range.start);
    const int64_t total = int64_t{range.end} - range.start;
    int64_t peak = 0;  // 64-bit: minus the smallest sample may not fit 32 bits
    for (int64_t done = 0; done < total;) {
        if (PumpTaskMessages(task)) return kTaskCancelled;
        const auto n = static_cast<int32_t>(std::min<int64_t>(kMaxTransferFrames, total - done));
        reader->Read(block.data(), n);
        for (size_t i = 0; i < static_cast<size_t>(n) * count; ++i) {
            const int64_t s = block[i];
            peak = std::max(peak, s < 0 ? -s : s);
        }
        done += n;
        SetProgressFraction(task, static_cast<double>(done) / static_cast<double>(total));
    }
    if (peak == 0) return kTaskDone;  // silence stays as it is
    // Levels below 0 pass the dialog's check (it tests only the upper
    // bound); their percent is held to the same 400 on the negative side.
    const int64_t percent = std::clamp<int64_t>(int64_t{level} * kFullScale16 / peak, -400, 400);
    return Amplify(range, static_cast<int32_t>(percent));
}

// --- Envelope ----------------------------------------------------------------------

// Runs the gain curve of points over [start, end): straight lines between
// the points, in blocks of at most 8192 frames that never cross a point.
// The per-frame slope is worked out again at every block, as integers, so
// the result depends on those blocks and nothing else.
int32_t ApplyEnvelope(ProgressTask& task, AudioClip& clip, int32_t start, int32_t end,
                      const std::vector<CurvePoint>& points) {
    SetProgressText(task, 0, "Envelope");
    SetProgressText(task, 1, "Please wait...");
    const int64_t length = int64_t{end} - start;
    if (points.size() < 2 || length < 1) return kTaskDone;
    std::vector<int64_t> frames;
    for (const CurvePoint& p : points)
        frames.push_back((length % 255) * p.position / 255 + (length / 255) * p.position);
    const auto levelGain = [](const CurvePoint& p) { return int32_t{p.level} << 17; };

    Ref<ClipReader> reader = OpenClipReader(clip);
    reader->Seek(start);
    const int channels = clip.Channels();
    Ref<ClipWriter> writer = CreateClipWriter(nullptr, static_cast<int32_t>(clip.SampleRate()), channels);
    std::vector<int32_t> block(static_cast<size_t>(kMaxTransferFrames) * static_cast<size_t>(channels));

    int32_t gain = levelGain(points[0]);
    int32_t target = levelGain(points[1]);
    int64_t segmentEnd = frames[1];
    size_t next = 2;
    for (int64_t at = 0; at < length;) {
        if (at >= segmentEnd) {
            // Points that do not lie beyond this frame are passed over; past
            // the last point the target holds to the end.
            segmentEnd = length;
            while (next < points.size()) {
                const size_t k = next++;
                if (frames[k] > at) {
                    segmentEnd = frames[k];
                    target = levelGain(points[k]);
                    break;
                }
            }
        }
        const auto n = static_cast<int32_t>(std::min<int64_t>(kMaxTransferFrames, segmentEnd - at));
        const auto slope = static_cast<int32_t>((int64_t{target} - gain) / (segmentEnd - at));
        reader->Read(block.data(), n);
        int32_t* s = block.data();
        for (int32_t f = 0; f < n; ++f) {
            for (int c = 0; c < channels; ++c, ++s)
                *s = MulQ24(*s, gain);
            gain += slope;
        }
        writer->Write(block.data(), n);
        if (writer->Failed()) return kTaskFailed;
        at += n;
        SetProgressFraction(task, static_cast<double>(at) / static_cast<double>(length));
        if (PumpTaskMessages(task)) return kTaskCancelled;
    }
    if (!writer->Close()) return kTaskFailed;
    return ClipReplaceRange(clip, start, end, writer->ResultClip()) ? kTaskDone : kTaskFailed;
}

const std::vector<CurvePoint>& FadeInCurve() {
    static const std::vector<CurvePoint> curve{{0, 0}, {255, 128}};
    return curve;
}

const std::vector<CurvePoint>& FadeOutCurve() {
    static const std::vector<CurvePoint> curve{{0, 128}, {255, 0}};
    return curve;
}

// --- Cross fade --------------------------------------------------------------------

struct CrossFadeValues {
    int32_t gapMs = 300;
    int32_t fadeInMs = 300;
    int32_t fadeOutMs = 300;
    static CrossFadeValues From(const EffectValues& values) {
        return {IntValue(values, "GapTimeMS"), IntValue(values, "FadeInTimeMS"),
                IntValue(values, "FadeOutTimeMS")};
    }
};

// Where the joined part lies, in frames. n counts frames of the joined
// part; A is read from `from`, B from bFrom.
struct CrossFadePlan {
    int64_t from = 0;  // a0: the joined part replaces the clip from here
    int64_t lead = 0;  // d: frames of A before the selection start
    int64_t fadeOutEnd = 0, fadeInStart = 0, fadeInEnd = 0, fadeIn = 0, fadeOut = 0;
    int64_t joined = 0;  // N
    int64_t bFrom = 0;
    int64_t tail = 0;  // the clip continues from this frame after the joined part

    CrossFadePlan(const CrossFadeValues& v, int64_t rate, int64_t start, int64_t end) {
        const int64_t gap = int64_t{v.gapMs} * rate / 1000;
        fadeIn = std::max<int64_t>(0, int64_t{v.fadeInMs} * rate / 1000);
        fadeOut = std::max<int64_t>(0, int64_t{v.fadeOutMs} * rate / 1000);
        // A fade-in longer than the gap starts before the selection; near
        // the start of the file it can only start at frame 0 and is cut
        // short there.
        from = std::max<int64_t>(0, gap < fadeIn ? start - (fadeIn - gap) : start);
        lead = start - from;
        fadeOutEnd = lead + fadeOut;
        fadeInStart = lead + gap - fadeIn;
        fadeInEnd = lead + gap;
        joined = std::max(lead + gap, lead + fadeOut);
        bFrom = end - (lead + gap);
        tail = bFrom + joined;
    }

    int32_t GainA(int64_t n) const {
        if (n <= lead) return kUnityGain;
        if (n >= fadeOutEnd) return 0;
        return static_cast<int32_t>(static_cast<double>(fadeOutEnd - n) / static_cast<double>(fadeOut) *
                                    16777216.0);
    }
    int32_t GainB(int64_t n) const {
        if (n >= fadeInEnd) return kUnityGain;
        if (n <= fadeInStart) return 0;
        return static_cast<int32_t>(static_cast<double>(n - fadeInStart) / static_cast<double>(fadeIn) *
                                    16777216.0);
    }
};

// Joins the audio before the selection to the audio after it, fading one
// out and the other in, and removes the selection.
int32_t CrossFade(ProgressTask& task, EffectRange& range, const CrossFadeValues& values) {
    SetProgressText(task, 0, "Cross Fading");
    AudioClip& clip = range.clip;
    const CrossFadePlan plan(values, clip.SampleRate(), range.start, range.end);
    // Times of many minutes can ask for more than a clip holds; nothing is
    // written then.
    const int64_t newLength = plan.from + plan.joined + std::max<int64_t>(0, clip.Length() - plan.tail);
    if (plan.joined > INT32_MAX || plan.tail > INT32_MAX || newLength > INT32_MAX) {
        ShowTaskError(task, "The cross fade times are too long for this file.");
        return kTaskFailed;
    }
    const int channels = clip.Channels();
    Ref<ClipReader> a = OpenClipReader(clip);
    Ref<ClipReader> b = OpenClipReader(clip);
    a->Seek(static_cast<int32_t>(plan.from));
    b->Seek(static_cast<int32_t>(plan.bFrom));
    Ref<ClipWriter> writer = CreateClipWriter(nullptr, static_cast<int32_t>(clip.SampleRate()), channels);
    const size_t blockSamples = static_cast<size_t>(kMaxTransferFrames) * static_cast<size_t>(channels);
    std::vector<int32_t> blockA(blockSamples), blockB(blockSamples);
    for (int64_t done = 0; done < plan.joined;) {
        if (PumpTaskMessages(task)) return kTaskCancelled;
        const auto n = static_cast<int32_t>(std::min<int64_t>(kMaxTransferFrames, plan.joined - done));
        a->Read(blockA.data(), n);
        b->Read(blockB.data(), n);
        for (int32_t f = 0; f < n; ++f) {
            const int32_t gainA = plan.GainA(done + f);
            const int32_t gainB = plan.GainB(done + f);
            for (int c = 0; c < channels; ++c) {
                const size_t i =
                    static_cast<size_t>(f) * static_cast<size_t>(channels) + static_cast<size_t>(c);
                blockA[i] = AddWrapping(MulQ24(blockB[i], gainB), MulQ24(blockA[i], gainA));
            }
        }
        writer->Write(blockA.data(), n);
        if (writer->Failed()) return kTaskFailed;
        done += n;
        SetProgressFraction(task, static_cast<double>(done) / static_cast<double>(plan.joined));
    }
    if (!writer->Close()) return kTaskFailed;
    if (!ClipReplaceRange(clip, static_cast<int32_t>(plan.from), static_cast<int32_t>(plan.tail),
                          writer->ResultClip()))
        return kTaskFailed;
    range.end = static_cast<int32_t>(plan.from + plan.joined);
    return kTaskDone;
}

// --- Catalogue ----------------------------------------------------------------------

EffectDefinition AmplifyEffect() {
    EffectDefinition e;
    e.id = "amplify";
    e.name = "Amplify";
    e.parameters = {{"AmplifyGain", "100", "Gain (%)", "at most 400"}};
    e.presets = {{"Quarter Volume", {{"AmplifyGain", "25"}}},
                 {"Half Volume", {{"AmplifyGain", "50"}}},
                 {"Double Volume", {{"AmplifyGain", "200"}}},
                 {"Triple Volume", {{"AmplifyGain", "300"}}}};
    e.validate = [](const EffectValues& v) { return AmplifyValues::From(v).Validate(); };
    e.run = [](ProgressTask&, EffectRange& range, const EffectValues& v) {
        return Amplify(range, AmplifyValues::From(v).percent);
    };
    return e;
}

EffectDefinition NormalizeEffect() {
    EffectDefinition e;
    e.id = "normalize";
    e.name = "Normalize";
    e.parameters = {{"NormalizePeakLevel", "100", "Peak level (%)", "at most 100"}};
    e.presets = {{"Very Soft Audio Level", {{"NormalizePeakLevel", "20"}}},
                 {"Soft Audio Level", {{"NormalizePeakLevel", "40"}}},
                 {"Normal Audio Level", {{"NormalizePeakLevel", "75"}}},
                 {"Maximum Audio Level", {{"NormalizePeakLevel", "100"}}}};
    e.validate = [](const EffectValues& v) { return NormalizeValues::From(v).Validate(); };
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& v) {
        return Normalize(task, range, NormalizeValues::From(v).level);
    };
    return e;
}

EffectDefinition CurveEffect(std::string id, std::string name, const std::vector<CurvePoint>& curve,
                             bool trim) {
    EffectDefinition e;
    e.id = std::move(id);
    e.name = std::move(name);
    e.run = [&curve, trim](ProgressTask& task, EffectRange& range, const EffectValues&) {
        const int32_t result = ApplyEnvelope(task, range.clip, range.start, range.end, curve);
        if (result == kTaskDone && trim) ClipTrimEnd(range.clip, range.end);
        return result;
    };
    return e;
}

// The envelope the user drew, kept in "envelope.dat" between uses.
EffectDefinition EnvelopeEffect() {
    EffectDefinition e;
    e.id = "envelope";
    e.name = "Envelope";
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues&) {
        return ApplyEnvelope(task, range.clip, range.start, range.end, LoadCurveFile(EnvelopeFilePath()));
    };
    return e;
}

EffectDefinition CrossFadeEffect() {
    EffectDefinition e;
    e.id = "cross-fade";
    e.name = "Cross Fade";
    e.section = "CrossFade";
    e.leadInDivisor = 1;
    e.parameters = {{"GapTimeMS", "300", "Gap (ms)", ""},
                    {"FadeInTimeMS", "300", "Fade-in time (ms)", ""},
                    {"FadeOutTimeMS", "300", "Fade-out time (ms)", ""}};
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& v) {
        return CrossFade(task, range, CrossFadeValues::From(v));
    };
    return e;
}

}  // namespace

int32_t ApplyEnvelopeCurve(ProgressTask& task, AudioClip& clip, int32_t start, int32_t end,
                           const std::vector<CurvePoint>& points) {
    return ApplyEnvelope(task, clip, start, end, points);
}

void AddAmplitudeEffects(std::vector<EffectDefinition>& catalogue) {
    catalogue.push_back(AmplifyEffect());
    catalogue.push_back(NormalizeEffect());
    catalogue.push_back(CurveEffect("fade-in", "Fade In", FadeInCurve(), false));
    catalogue.push_back(CurveEffect("fade-out", "Fade Out", FadeOutCurve(), false));
    catalogue.push_back(CurveEffect("fade-out-and-trim", "Fade Out and Trim", FadeOutCurve(), true));
    catalogue.push_back(EnvelopeEffect());
    catalogue.push_back(CrossFadeEffect());
    AddDynamicsEffects(catalogue);
}

}  // namespace sonitor
