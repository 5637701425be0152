// The edit passes that compute or scan samples: the mix of Paste Mix and Mix
// File, Reverse, Auto Trim (on the peak overviews) and the region scan of
// Auto Split. The list-only edits live in EditOperations.cpp.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include <fcntl.h>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "document/DocumentHost.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "foundation/FileUtil.h"
#include "foundation/Numbers.h"

namespace sonitor {

namespace {

constexpr int64_t kMaxFrames = std::numeric_limits<int32_t>::max();
constexpr int32_t kPassFrames = 8192;
constexpr int32_t kOverviewBlock = 256;

int32_t Saturate(int64_t v) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int32_t ClampTo(int32_t position, int32_t length) {
    return std::clamp(position, 0, length);
}

// The clip's rate as the signed count the writers take.
int32_t RateOf(const AudioClip& clip) {
    return static_cast<int32_t>(std::min<int64_t>(clip.SampleRate(), kMaxFrames));
}

int32_t HalfSecond(const SoundDocument& document) {
    return RateOf(document.clip) / 2;
}

// A threshold in decibels (limited to -127..127) as a linear factor.
double DecibelFactor(int32_t db) {
    return std::pow(10.0, std::clamp(db, -127, 127) / 20.0);
}

// The mix gain for one side: the side's share of the pan (0..100, 50 being
// an even split) times the volume, as a percent, then as 8.24. Twice the
// volume at a full pan does not fit 8.24 in 32 bits, hence the wide steps.
int32_t MixGain(int32_t volume, int32_t share) {
    const int64_t percent = int64_t{share} * volume / 50;
    return Saturate(percent * kUnityGain / 100);
}

// One block of the mix. Sample s of the whole pass (counted over all
// channels) takes the left gain when s is even and the right one when odd,
// which in a stereo document is the channel and in a mono one alternates.
// Before fadeStart the gain is applied like a segment gain (a 9-bit
// multiplier); from fadeStart on as 8.24, and both gains shrink after every
// sample pair by gain / (pairs left, this one included): a straight line
// that reaches silence on the last frame. (Dividing by frames left times
// channels, as the classic formula reads, leaves a stereo fade at about
// 2 / sqrt(pi x fade frames) of its level and then cuts it off.)
struct MixPass {
    int64_t frames = 0;     // n, the frames of the pass
    int64_t fadeStart = 0;  // first frame of the fade (n when there is none)
    int channels = 1;
    int32_t gains[2] = {0, 0};

    void Mix(int32_t* document, const int32_t* source, int64_t firstFrame, int32_t count) {
        const int64_t plain = std::clamp<int64_t>(fadeStart - firstFrame, 0, count);
        const int64_t firstSample = firstFrame * channels;
        const int32_t multipliers[2] = {gains[0] >> 15, gains[1] >> 15};
        const int64_t plainSamples = plain * channels;
        for (int64_t i = 0; i < plainSamples; ++i) {
            const int64_t added = (int64_t{source[i]} * multipliers[(firstSample + i) & 1]) >> 9;
            document[i] = Saturate(document[i] + added);
        }
        for (int64_t f = plain; f < count; ++f) {
            const int64_t frame = firstFrame + f;
            for (int c = 0; c < channels; ++c) {
                const int64_t i = f * channels + c;
                const int side = static_cast<int>((firstSample + i) & 1);
                document[i] = Saturate(int64_t{document[i]} + MulQ24(source[i], gains[side]));
                if (side == 1) {
                    const int64_t remaining = std::max<int64_t>(1, (frames - frame) * channels / 2);
                    gains[0] = static_cast<int32_t>(gains[0] - gains[0] / remaining);
                    gains[1] = static_cast<int32_t>(gains[1] - gains[1] / remaining);
                }
            }
        }
    }
};

bool SameFormat(const AudioClip& a, const AudioClip& b) {
    return a.SampleRate() == b.SampleRate() && a.Channels() == b.Channels();
}

// Paste Mix and Mix File once the source is at hand and the undo state is
// saved: the task, then the selection over the mixed-in material.
int32_t RunMix(SoundDocument& document, const AudioClip& source, const MixSettings& settings,
               const std::string& title, EditContext& ctx) {
    if (document.selectionEnd < document.selectionStart) return kTaskDone;
    const int32_t start = ClampTo(document.selectionStart, document.Length());
    int32_t selectionEnd = document.selectionEnd;
    FunctionTask task(title, [&](ProgressTask& self) -> int32_t {
        AudioClip mix = source;
        if (!mix.Empty() && !SameFormat(mix, document.clip)) {
            const int32_t converting =
                ConvertClip(self, mix, RateOf(document.clip), document.clip.Channels());
            if (converting != kTaskDone) return converting;
        }
        return MixIntoClip(self, document.clip, mix, start, selectionEnd, settings);
    });
    const int32_t result = RunTask(task, ctx.tasks);
    if (result != kTaskDone) return result;

    // The mixed-in material, in the document's frames. At the same rate the
    // length is exact; across rates it goes through whole milliseconds.
    const int32_t rate = RateOf(document.clip);
    const int32_t sourceRate = RateOf(source);
    const int32_t mixed = sourceRate == rate ? source.Length()
                                             : FramesFromMilliseconds(
                                                   MillisecondsFromFrames(source.Length(), sourceRate), rate);
    // With a fade the document keeps its length and the mix may have run
    // past its end: the selection stops there.
    const auto end = static_cast<int32_t>(std::min<int64_t>(int64_t{start} + mixed, document.Length()));
    SetSelection(document, start, end, document.cursor, ctx.host);
    FinishEdit(document, start, HalfSecond(document), ctx.host, ctx.settings);
    return kTaskDone;
}

}  // namespace

// ---------------------------------------------------------------------------
// Mixing

int32_t MixLeftGain(int32_t volume, int32_t pan) {
    return MixGain(volume, 100 - std::clamp(pan, 0, 100));
}

int32_t MixRightGain(int32_t volume, int32_t pan) {
    return MixGain(volume, std::clamp(pan, 0, 100));
}

int32_t MixIntoClip(ProgressTask& task, AudioClip& clip, const AudioClip& source, int32_t start,
                    int32_t& selectionEnd, const MixSettings& settings) {
    if (selectionEnd < start) return kTaskDone;
    // Nothing to add: rewriting the range would only cost a new file.
    if (source.Empty()) return kTaskDone;
    if (!SameFormat(source, clip)) return kTaskFailed;
    const int32_t length = clip.Length();
    start = ClampTo(start, length);
    const int32_t end = ClampTo(selectionEnd, length);

    // The work goes into a copy of the segment list, so that a refusal, a
    // failure or a cancel leaves the clip exactly as it was.
    AudioClip work = clip;
    int64_t mixEnd = end;
    int64_t fadeFrames = 0;
    const int64_t extra = int64_t{source.Length()} - (end - start);
    if (extra > 0) {
        switch (settings.overflowMode) {
            case MixSettings::kIncreaseSelection:
                mixEnd = end + extra;
                if (mixEnd > kMaxFrames) return kTaskFailed;
                break;
            case MixSettings::kFadeOutMix:
                fadeFrames = std::max(0, settings.fadeOutFrames);
                break;
            default:
                // ClipInsertSilence refuses a document that would pass the
                // frame limit.
                if (!ClipInsertSilence(work, static_cast<int32_t>(extra), end)) return kTaskFailed;
                mixEnd = end + extra;
                break;
        }
    }
    // An empty selection with a fade has no frames to mix into; mixing one
    // frame anyway would add a frame to the document.
    const int64_t frames = mixEnd - start;
    if (frames <= 0) return kTaskDone;

    SetProgressText(task, 0, "Pasting Mix");
    SetProgressText(task, 1, "Please wait...");

    Ref<ClipReader> documentReader = OpenClipReader(work);
    documentReader->Seek(start);
    Ref<ClipReader> sourceReader = OpenClipReader(source);
    const int channels = documentReader->Channels();
    Ref<ClipWriter> writer = CreateClipWriter(nullptr, RateOf(clip), channels);

    // A mono document has no pan.
    const int32_t pan = channels == 1 ? 50 : settings.pan;
    MixPass pass;
    pass.frames = frames;
    pass.fadeStart = std::max<int64_t>(0, frames - fadeFrames);
    pass.channels = channels;
    pass.gains[0] = MixLeftGain(settings.volume, pan);
    pass.gains[1] = MixRightGain(settings.volume, pan);

    std::vector<int32_t> mixed(static_cast<size_t>(kPassFrames) * static_cast<size_t>(channels));
    std::vector<int32_t> added(mixed.size());
    for (int64_t done = 0; done < frames;) {
        if (PumpTaskMessages(task)) return kTaskCancelled;
        const auto count = static_cast<int32_t>(std::min<int64_t>(kPassFrames, frames - done));
        documentReader->Read(mixed.data(), count);
        sourceReader->Read(added.data(), count);
        pass.Mix(mixed.data(), added.data(), done, count);
        writer->Write(mixed.data(), count);
        done += count;
        SetProgressFraction(task, static_cast<double>(done) / static_cast<double>(frames));
    }
    if (!writer->Close()) return kTaskFailed;
    if (!ClipReplaceRange(work, start, static_cast<int32_t>(mixEnd), writer->ResultClip()))
        return kTaskFailed;
    clip = std::move(work);
    selectionEnd = static_cast<int32_t>(mixEnd);
    return kTaskDone;
}

int32_t EditPasteMix(SoundDocument& document, const AudioClip& source, const MixSettings& settings,
                     EditContext& ctx) {
    if (settings.Validate()) return kTaskFailed;
    ctx.host.StopPlayback();
    BeginEdit(document, "Paste Mix", ctx.host);
    return RunMix(document, source, settings, "Paste Mix", ctx);
}

int32_t EditMixFile(SoundDocument& document, const std::string& path, const MixSettings& settings,
                    EditContext& ctx) {
    if (settings.Validate()) return kTaskFailed;
    ctx.host.StopPlayback();
    AudioClip loaded;
    FunctionTask load("Loading Audio File Source",
                      [&](ProgressTask& self) { return LoadFileIntoClip(self, path, loaded); });
    const int32_t loading = RunTask(load, ctx.tasks);
    if (loading != kTaskDone) return loading;
    BeginEdit(document, "Mix File", ctx.host);
    return RunMix(document, loaded, settings, "Mix File", ctx);
}

// ---------------------------------------------------------------------------
// Reverse

int32_t ReverseClipRange(ProgressTask& task, AudioClip& clip, int32_t start, int32_t end) {
    if (end < start) return kTaskDone;
    start = ClampTo(start, clip.Length());
    end = ClampTo(end, clip.Length());
    if (start == end) return kTaskDone;
    SetProgressText(task, 0, "Reversing Sound");
    SetProgressText(task, 1, "Please wait...");

    Ref<ClipReader> reader = OpenClipReader(clip);
    const int channels = reader->Channels();
    Ref<ClipWriter> writer = CreateClipWriter(nullptr, RateOf(clip), channels);
    const size_t frameSamples = static_cast<size_t>(channels);
    std::vector<int32_t> forward(static_cast<size_t>(kPassFrames) * frameSamples);
    std::vector<int32_t> backward(forward.size());

    // The range is read from its end backwards, one block at a time. The
    // pass never pumps, so it cannot be cancelled; the bar still moves.
    const double step = static_cast<double>(kPassFrames) / (end - start);
    double fraction = 0;
    int32_t position = end;
    for (int32_t remaining = end - start; remaining > 0;) {
        fraction += step;
        SetProgressFraction(task, fraction);
        const int32_t count = std::min(kPassFrames, remaining);
        position -= count;
        reader->Seek(position);
        reader->Read(forward.data(), count);
        for (int32_t f = 0; f < count; ++f) {
            const int32_t* from = forward.data() + static_cast<size_t>(count - 1 - f) * frameSamples;
            std::copy(from, from + frameSamples, backward.data() + static_cast<size_t>(f) * frameSamples);
        }
        writer->Write(backward.data(), count);
        remaining -= count;
    }
    if (!writer->Close()) return kTaskFailed;
    return ClipReplaceRange(clip, start, end, writer->ResultClip()) ? kTaskDone : kTaskFailed;
}

int32_t EditReverse(SoundDocument& document, EditContext& ctx) {
    SelectAllIfNone(document, ctx.host);
    ctx.host.StopPlayback();
    BeginEdit(document, "Reverse", ctx.host);
    const int32_t start = ClampTo(document.selectionStart, document.Length());
    FunctionTask task("Reverse", [&](ProgressTask& self) {
        return ReverseClipRange(self, document.clip, document.selectionStart, document.selectionEnd);
    });
    const int32_t result = RunTask(task, ctx.tasks);
    if (result == kTaskDone) FinishEdit(document, start, HalfSecond(document), ctx.host, ctx.settings);
    return result;
}

// ---------------------------------------------------------------------------
// Auto trim

TrimBounds FindAutoTrimBounds(const AudioClip& clip, int32_t thresholdDb) {
    const int32_t length = clip.Length();
    const int64_t channels = std::max<int64_t>(1, clip.Channels());
    const int64_t blocks = length / kOverviewBlock + 1;
    const int64_t entryBytes = channels * 2;  // one block: per channel the positive and negative peak
    std::vector<uint8_t> overview(static_cast<size_t>(blocks * entryBytes), 0);

    // Each file segment's stretch of its overview, scaled by its gain, goes
    // where the segment lies in the clip. Segments rarely start on a block
    // boundary of their file, so the blocks only approximate; a block that
    // two segments share keeps the louder of the two. Silence and a missing
    // overview leave zeros.
    std::vector<uint8_t> stretch;
    int64_t position = 0;
    for (const ClipSegment& segment : clip.Segments()) {
        const int64_t at = position;
        position += segment.frames;
        if (segment.IsSilence()) continue;
        const int64_t first = at / kOverviewBlock;
        const int64_t last =
            std::min<int64_t>((at + segment.frames + kOverviewBlock - 1) / kOverviewBlock, blocks);
        if (last <= first) continue;
        const UniqueFd file(
            ::open(WorkingFileTable::OverviewPath(segment.fileId).c_str(), O_RDONLY | O_CLOEXEC));
        if (!file) continue;
        stretch.resize(static_cast<size_t>((last - first) * entryBytes));
        const int64_t got = ReadAt(file.Get(), stretch.data(), stretch.size(),
                                   segment.firstFrame / kOverviewBlock * entryBytes);
        // A negative gain swaps the two peaks; only their size matters here.
        const int64_t gain = std::abs(int64_t{segment.gain}) >> 16;  // 256 = unity
        uint8_t* into = overview.data() + first * entryBytes;
        for (int64_t i = 0; i < got; ++i) {
            const auto scaled =
                static_cast<uint8_t>(std::min<int64_t>((stretch[static_cast<size_t>(i)] * gain) >> 8, 255));
            into[i] = std::max(into[i], scaled);
        }
    }

    const uint8_t peak = *std::max_element(overview.begin(), overview.end());
    // 10^(dB/20) in 8.24 passes 32 bits above +42 dB; the threshold goes up
    // to +127.
    const auto factor = static_cast<int64_t>(DecibelFactor(thresholdDb) * kUnityGain);
    const int64_t threshold = (peak * factor) >> 24;
    const auto loud = [&](int64_t entry) {
        return overview[static_cast<size_t>(entry * 2)] > threshold ||
               overview[static_cast<size_t>(entry * 2 + 1)] > threshold;
    };

    // One block of margin on either side, as the blocks are coarse. Every
    // block and every channel is looked at, the first and the last block
    // included, so that sound at either end of the clip is never cut.
    TrimBounds bounds{0, length};
    const int64_t entries = blocks * channels;
    for (int64_t e = 0; e < entries; ++e) {
        if (loud(e)) {
            bounds.start = static_cast<int32_t>(std::max<int64_t>(0, (e / channels - 1) * kOverviewBlock));
            break;
        }
    }
    for (int64_t e = entries - 1; e >= 0; --e) {
        if (loud(e)) {
            bounds.end = static_cast<int32_t>(std::min<int64_t>((e / channels + 1) * kOverviewBlock, length));
            break;
        }
    }
    return bounds;
}

int32_t EditAutoTrim(SoundDocument& document, const AutoTrimSettings& settings, EditContext& ctx) {
    ctx.host.StopPlayback();
    BeginEdit(document, "Auto Trim", ctx.host);
    FunctionTask task("Auto Trim", [&](ProgressTask& self) -> int32_t {
        SetProgressText(self, 0, "AutoTrim");
        SetProgressText(self, 1, "Please wait...");
        const TrimBounds bounds = FindAutoTrimBounds(document.clip, settings.thresholdDb);
        ClipDeleteRange(document.clip, bounds.end, document.Length());
        ClipDeleteRange(document.clip, 0, bounds.start);
        return kTaskDone;
    });
    const int32_t result = RunTask(task, ctx.tasks);
    FinishEdit(document, 0, 0, ctx.host, ctx.settings);
    return result;
}

// ---------------------------------------------------------------------------
// Auto split

int32_t FindSplitRegions(ProgressTask& task, const AudioClip& clip, const AutoSplitSettings& settings,
                         std::vector<SplitRegion>& regions) {
    regions.clear();
    Ref<ClipReader> reader = OpenClipReader(clip);
    const int32_t rate = reader->SampleRate();
    const int channels = reader->Channels();
    const int32_t length = reader->Length();
    const int32_t block = std::clamp(rate / 20, 20, kPassFrames);
    // Up to 2.9e11 at +127 dB: more than any sample, so nothing is loud.
    const auto level = static_cast<int64_t>(DecibelFactor(settings.thresholdDb) * 131072.0);
    const int64_t minimumSilence = FramesFromMilliseconds(std::max(0, settings.durationMs), rate);
    SetProgressText(task, 1, "Please wait...");

    bool inRegion = false;
    int64_t regionStart = 0;
    int64_t lastLoud = 0;
    const auto endRegion = [&] {
        const int64_t end = std::min<int64_t>(lastLoud + 2 * int64_t{block}, length);
        if (end > regionStart)
            regions.push_back({static_cast<int32_t>(regionStart), static_cast<int32_t>(end)});
        inRegion = false;
    };

    std::vector<int32_t> buffer(static_cast<size_t>(block) * static_cast<size_t>(channels));
    while (reader->Position() < length) {
        if (PumpTaskMessages(task)) {
            regions.clear();
            return kTaskCancelled;
        }
        const int64_t p = reader->Position();
        const auto count = static_cast<int32_t>(std::min<int64_t>(block, length - p));
        reader->Read(buffer.data(), count);
        int64_t peak = 0;
        for (size_t i = 0; i < static_cast<size_t>(count) * static_cast<size_t>(channels); ++i)
            peak = std::max(peak, std::abs(int64_t{buffer[i]}));
        const bool loud = peak > level;
        if (!inRegion) {
            if (loud) {
                inRegion = true;
                regionStart = std::max<int64_t>(0, p - block / 2);
                lastLoud = p;
            }
        } else if (loud) {
            lastLoud = p;
        } else if (p - lastLoud >= minimumSilence) {
            endRegion();
        }
        SetProgressFraction(task, static_cast<double>(p + count) / length);
    }
    if (inRegion) endRegion();
    return kTaskDone;
}

}  // namespace sonitor
