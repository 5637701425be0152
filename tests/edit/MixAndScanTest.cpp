// The sample passes of the Edit menu against independent references: the
// mix against a double-precision model, reverse against std::reverse, auto
// trim and auto split against signals whose loud stretches are known.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "document/DocumentHost.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "formats/WavSink.h"
#include "foundation/SettingsStore.h"
#include "support/ClipSamples.h"
#include "support/ScriptedPrompt.h"
#include "support/ScriptedTaskHost.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();

class TestHost final : public DocumentHost {
public:
    UserPrompt& Prompt() override { return prompt; }
    void StopPlayback() override { ++stops; }
    void StartPlayback(SoundDocument&, int32_t position) override { playedFrom.push_back(position); }

    test::ScriptedPrompt prompt;
    int stops = 0;
    std::vector<int32_t> playedFrom;
};

struct Editor {
    TestHost host;
    test::ScriptedTaskHost tasks;
    EditContext ctx{host, tasks, SettingsStore::Default()};

    bool ShowedText(const std::string& text) const {
        return std::any_of(tasks.texts.begin(), tasks.texts.end(),
                           [&](const auto& t) { return t.second == text; });
    }
};

int32_t RunWork(test::ScriptedTaskHost& host, std::function<int32_t(ProgressTask&)> work) {
    FunctionTask task("work", std::move(work));
    return RunTask(task, host);
}

int32_t Mix(test::ScriptedTaskHost& host, AudioClip& clip, const AudioClip& source, int32_t start,
            int32_t& end, const MixSettings& settings) {
    return RunWork(host, [&](ProgressTask& t) { return MixIntoClip(t, clip, source, start, end, settings); });
}

int32_t Split(test::ScriptedTaskHost& host, const AudioClip& clip, const AutoSplitSettings& settings,
              std::vector<SplitRegion>& regions) {
    return RunWork(host, [&](ProgressTask& t) { return FindSplitRegions(t, clip, settings, regions); });
}

std::vector<int32_t> Noise(uint32_t seed, size_t count) {
    std::mt19937 rng(seed);
    std::vector<int32_t> s(count);
    for (int32_t& v : s)
        v = static_cast<int32_t>(rng() % 1200001) - 600000;
    return s;
}

// A document of several segments: noise with a stretch at half gain and a
// stretch of silence in the middle.
AudioClip PatchworkClip(int channels, int32_t frames, uint32_t seed) {
    AudioClip clip =
        test::ClipFromSamples(Noise(seed, static_cast<size_t>(frames - 1000) * channels), channels);
    ClipScaleRange(clip, 2000, 9000, 50);
    ClipInsertSilence(clip, 1000, 15000);
    return clip;
}

// ---------------------------------------------------------------------------
// Mixing

// The mix as the command describes it, in doubles: overflow handling, the
// pan's gains applied alternately in interleaved order, and the fade's
// gains shrinking by gain / (pairs left) after every pair, down to silence.
struct MixCase {
    int channels;
    int32_t start, end;
    int mode;
    int32_t fade, volume, pan;
};

std::vector<double> MixModel(std::vector<int32_t> doc, const std::vector<int32_t>& src, const MixCase& m,
                             int64_t& mixEnd, std::vector<double>& tolerance) {
    const int64_t ch = m.channels;
    const auto length = static_cast<int64_t>(doc.size()) / ch;
    const int64_t start = std::clamp<int64_t>(m.start, 0, length);
    const int64_t end = std::clamp<int64_t>(m.end, 0, length);
    const int64_t srcFrames = static_cast<int64_t>(src.size()) / ch;
    const int64_t extra = srcFrames - (end - start);
    int64_t fade = 0;
    mixEnd = end;
    if (extra > 0 && m.mode == 0) doc.insert(doc.begin() + end * ch, static_cast<size_t>(extra * ch), 0);
    if (extra > 0 && m.mode != 2) mixEnd = end + extra;
    if (extra > 0 && m.mode == 2) fade = m.fade;
    const int64_t n = mixEnd - start;
    const int64_t fadeStart = std::max<int64_t>(0, n - fade);

    std::vector<double> out(doc.begin(), doc.end());
    out.resize(static_cast<size_t>(std::max(static_cast<int64_t>(doc.size()) / ch, mixEnd) * ch), 0.0);
    tolerance.assign(out.size(), 0.0);
    const int pan = ch == 1 ? 50 : m.pan;
    double gains[2] = {(100 - pan) * m.volume / 50 / 100.0, pan * m.volume / 50 / 100.0};
    int64_t pairs = 0;
    for (int64_t i = 0; i < n; ++i) {
        for (int64_t c = 0; c < ch; ++c) {
            const int64_t s = i * ch + c;
            const double v = i < srcFrames ? src[static_cast<size_t>(s)] : 0.0;
            const auto at = static_cast<size_t>((start + i) * ch + c);
            out[at] += v * gains[s & 1];
            // Truncating shifts; in the fade the running gains also lose up
            // to one 2^-24 step per pair.
            tolerance[at] = 4 + std::abs(v) * static_cast<double>(pairs + 1) / (1 << 24);
            if ((s & 1) && i >= fadeStart) {
                ++pairs;
                for (double& g : gains)
                    g -= g / static_cast<double>(std::max<int64_t>(1, (n - i) * ch / 2));
            }
        }
    }
    return out;
}

TEST(Mix, GainsFromVolumeAndPan) {
    EXPECT_EQ(MixLeftGain(100, 50), kUnityGain);
    EXPECT_EQ(MixRightGain(100, 50), kUnityGain);
    EXPECT_EQ(MixLeftGain(70, 50), 11744051);  // 70 % of 2^24, truncated
    EXPECT_EQ(MixLeftGain(100, 0), 2 * kUnityGain);
    EXPECT_EQ(MixRightGain(100, 0), 0);
    EXPECT_EQ(MixLeftGain(100, 100), 0);
    EXPECT_EQ(MixRightGain(100, 100), 2 * kUnityGain);
    // The percent is truncated before it becomes 8.24: 67 x 70 / 50 = 93.
    EXPECT_EQ(MixLeftGain(70, 33), 15602810);
    // Out-of-range values saturate instead of overflowing.
    EXPECT_EQ(MixLeftGain(std::numeric_limits<int32_t>::min(), 0), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(MixRightGain(kMax32, 500), kMax32);
}

TEST(Mix, MatchesTheModelInEveryOverflowMode) {
    const std::vector<MixCase> cases = {
        {2, 1000, 5000, 0, 0, 100, 25},    // insert silence: the document grows
        {2, 1000, 5000, 1, 0, 100, 25},    // increase selection: mixes over what follows
        {2, 25000, 29000, 1, 0, 75, 50},   // ... and past the end of the document
        {2, 1000, 12000, 2, 250, 75, 50},  // fade over the last 250 frames
        {2, 1000, 3000, 2, 5000, 100, 0},  // fade longer than the selection
        {2, 7000, 7000, 1, 0, 50, 100},    // no selection
        {2, 40000, 50000, 1, 0, 100, 50},  // stale selection past the end: appended
        {2, -300, 26000, 0, 0, 100, 50},   // source shorter than the selection
        {1, 0, 25000, 0, 0, 100, 0},       // mono ignores the pan
        {1, 100, 10101, 2, 334, 50, 100},  // mono fade starting inside a pair
    };
    for (const MixCase& m : cases) {
        SCOPED_TRACE(testing::Message()
                     << "case ch " << m.channels << " [" << m.start << ", " << m.end << ") mode " << m.mode);
        const AudioClip original = PatchworkClip(m.channels, 30000, 11);
        const std::vector<int32_t> src = Noise(12, static_cast<size_t>(20000) * m.channels);
        const AudioClip source = test::ClipFromSamples(src, m.channels);
        int64_t mixEnd = 0;
        std::vector<double> tolerance;
        const std::vector<double> expected = MixModel(test::ClipSamples(original), src, m, mixEnd, tolerance);

        AudioClip clip = original;
        int32_t selectionEnd = m.end;
        MixSettings settings;
        settings.overflowMode = m.mode;
        settings.fadeOutFrames = m.fade;
        settings.volume = m.volume;
        settings.pan = m.pan;
        test::ScriptedTaskHost host;
        ASSERT_EQ(Mix(host, clip, source, m.start, selectionEnd, settings), kTaskDone);
        EXPECT_EQ(selectionEnd, mixEnd);
        const std::vector<int32_t> got = test::ClipSamples(clip);
        ASSERT_EQ(got.size(), expected.size());
        if (m.mode == 2) {
            // The fade runs down to silence: the last mixed frame carries at
            // most 1/fade of the source.
            const std::vector<int32_t> before = test::ClipSamples(original);
            const size_t last =
                static_cast<size_t>((std::max(m.start, 0) + (mixEnd - m.start) - 1) * m.channels);
            EXPECT_NEAR(got[last], before[last], 4 + (1 << 20) / std::min<int64_t>(m.fade, mixEnd - m.start));
        }
        int bad = 0;
        for (size_t i = 0; i < got.size() && bad < 5; ++i) {
            if (std::abs(got[i] - expected[i]) > tolerance[i]) {
                ADD_FAILURE() << "sample " << i << ": " << got[i] << " expected " << expected[i];
                ++bad;
            }
        }
    }
}

TEST(Mix, CancelRefusalAndMismatchLeaveTheClipAlone) {
    const AudioClip original = PatchworkClip(2, 30000, 5);
    const AudioClip source = test::ClipFromSamples(Noise(6, 2 * 20000), 2);
    MixSettings settings;  // insert silence: the clip is touched before the pass
    {
        AudioClip clip = original;
        int32_t end = 2000;
        test::ScriptedTaskHost host;
        host.cancelAfterPumps = 1;
        EXPECT_EQ(Mix(host, clip, source, 1000, end, settings), kTaskCancelled);
        EXPECT_EQ(clip.Segments(), original.Segments());
        EXPECT_EQ(end, 2000);
    }
    {
        AudioClip mono = test::ClipFromSamples(Noise(7, 1000), 1);
        AudioClip clip = original;
        int32_t end = 2000;
        test::ScriptedTaskHost host;
        EXPECT_EQ(Mix(host, clip, mono, 1000, end, settings), kTaskFailed);
        EXPECT_EQ(clip.Segments(), original.Segments());
    }
    // A mix whose overflow would pass 2^31 - 1 frames is refused outright.
    AudioClip huge(44100, 2);
    ClipInsertSilence(huge, kMax32 - 100, 0);
    const AudioClip hugeBefore = huge;
    for (int mode : {MixSettings::kInsertSilence, MixSettings::kIncreaseSelection}) {
        settings.overflowMode = mode;
        int32_t end = kMax32 - 140;
        test::ScriptedTaskHost host;
        EXPECT_EQ(Mix(host, huge, source, kMax32 - 150, end, settings), kTaskFailed);
        EXPECT_EQ(huge.Segments(), hugeBefore.Segments());
    }
}

TEST(Mix, PasteMixCommandConvertsSelectsAndUndoes) {
    Editor e;
    Ref<SoundDocument> doc = MakeRef<SoundDocument>(44100, 2);
    doc->clip = PatchworkClip(2, 30000, 3);
    const std::vector<int32_t> before = test::ClipSamples(doc->clip);
    SetSelection(*doc, 1000, 2000, 500, e.host);
    // 11025 frames at 22050 Hz mono become 22050 frames at 44100 Hz stereo.
    const AudioClip source = test::ClipFromSamples(Noise(4, 11025), 1, 22050);
    MixSettings settings;
    settings.overflowMode = MixSettings::kIncreaseSelection;

    ASSERT_EQ(EditPasteMix(*doc, source, settings, e.ctx), kTaskDone);
    EXPECT_EQ(doc->Length(), 30000);
    EXPECT_EQ(doc->selectionStart, 1000);
    EXPECT_EQ(doc->selectionEnd, 23050);
    EXPECT_EQ(doc->undo.UndoMenuText(), "Undo Paste Mix\tCtrl+Z");
    EXPECT_TRUE(e.ShowedText("Pasting Mix"));
    EXPECT_TRUE(e.ShowedText("Please wait..."));
    EXPECT_EQ(e.host.stops, 1);
    EXPECT_EQ(e.host.playedFrom, std::vector<int32_t>{0});  // half a second before 1000
    const std::vector<int32_t> after = test::ClipSamples(doc->clip);
    EXPECT_NE(after, before);
    EXPECT_TRUE(std::equal(after.begin() + 2 * 23050, after.end(), before.begin() + 2 * 23050));

    ASSERT_TRUE(UndoEdit(*doc, e.host));
    EXPECT_EQ(test::ClipSamples(doc->clip), before);

    // Volume above 100 is refused before anything happens.
    settings.volume = 101;
    const int undoIndex = doc->undo.Index();
    EXPECT_EQ(EditPasteMix(*doc, source, settings, e.ctx), kTaskFailed);
    EXPECT_EQ(doc->undo.Index(), undoIndex);
}

TEST(Mix, MixFileLoadsFirstAndConverts) {
    const std::string path = test::MakeTempFolder("mixfile") + "/tone.wav";
    {
        std::vector<int32_t> samples(4000);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<int32_t>(200000 * std::sin(0.05 * static_cast<double>(i)));
        Ref<AudioSink> sink = CreatePcmWavSink(path, 8000, 16, 1);
        sink->Write(samples.data(), 4000);
        ASSERT_TRUE(sink->Close());
    }
    Editor e;
    Ref<SoundDocument> doc = MakeRef<SoundDocument>(16000, 1);
    doc->clip = test::ClipFromSamples(std::vector<int32_t>(20000, 0), 1, 16000);
    SetSelection(*doc, 100, 100, 0, e.host);
    MixSettings settings;
    ASSERT_EQ(EditMixFile(*doc, path, settings, e.ctx), kTaskDone);
    EXPECT_EQ(doc->undo.UndoMenuText(), "Undo Mix File\tCtrl+Z");
    // Insert silence: the 8000 frames at 16 kHz push the document on.
    EXPECT_EQ(doc->Length(), 28000);
    EXPECT_EQ(doc->selectionEnd, 8100);

    Ref<SoundDocument> other = MakeRef<SoundDocument>(16000, 1);
    EXPECT_NE(EditMixFile(*other, path + ".missing", settings, e.ctx), kTaskDone);
    EXPECT_FALSE(other->undo.CanUndo());
}

// ---------------------------------------------------------------------------
// Reverse

std::vector<int32_t> ReversedFrames(std::vector<int32_t> s, int channels, int32_t start, int32_t end) {
    std::vector<std::vector<int32_t>> frames;
    for (int32_t f = start; f < end; ++f)
        frames.emplace_back(s.begin() + f * channels, s.begin() + (f + 1) * channels);
    std::reverse(frames.begin(), frames.end());
    for (int32_t f = start; f < end; ++f)
        std::copy(frames[static_cast<size_t>(f - start)].begin(),
                  frames[static_cast<size_t>(f - start)].end(), s.begin() + f * channels);
    return s;
}

TEST(Reverse, MatchesStdReverseOfFrames) {
    const AudioClip original = PatchworkClip(2, 30000, 21);
    const std::vector<int32_t> samples = test::ClipSamples(original);
    struct Range {
        int32_t start, end, clampedStart, clampedEnd;
    };
    for (const Range r : {Range{0, 30000, 0, 30000}, Range{100, 20000, 100, 20000},
                          Range{29990, 40000, 29990, 30000}, Range{-50, 8193, 0, 8193}}) {
        AudioClip clip = original;
        test::ScriptedTaskHost host;
        ASSERT_EQ(RunWork(host, [&](ProgressTask& t) { return ReverseClipRange(t, clip, r.start, r.end); }),
                  kTaskDone);
        EXPECT_EQ(test::ClipSamples(clip), ReversedFrames(samples, 2, r.clampedStart, r.clampedEnd))
            << r.start << ".." << r.end;
    }
    AudioClip clip = original;
    test::ScriptedTaskHost host;
    EXPECT_EQ(RunWork(host, [&](ProgressTask& t) { return ReverseClipRange(t, clip, 500, 100); }), kTaskDone);
    EXPECT_EQ(clip.Segments(), original.Segments());
}

TEST(Reverse, CommandSelectsAllAndCannotBeCancelled) {
    Editor e;
    e.tasks.cancelAfterPumps = 0;
    Ref<SoundDocument> doc = MakeRef<SoundDocument>(44100, 1);
    doc->clip = PatchworkClip(1, 20000, 8);
    const std::vector<int32_t> before = test::ClipSamples(doc->clip);
    ASSERT_EQ(EditReverse(*doc, e.ctx), kTaskDone);
    EXPECT_EQ(test::ClipSamples(doc->clip), ReversedFrames(before, 1, 0, 20000));
    EXPECT_EQ(doc->undo.UndoMenuText(), "Undo Reverse\tCtrl+Z");
    EXPECT_TRUE(e.ShowedText("Reversing Sound"));
    EXPECT_EQ(doc->selectionStart, 0);
    EXPECT_EQ(doc->selectionEnd, 20000);
}

// ---------------------------------------------------------------------------
// Auto trim and auto split

// Stretches of a 1 kHz tone (amplitude as given, 0 for silence), in every
// channel; the loud stretches' bounds are recorded.
struct Signal {
    std::vector<int32_t> samples;
    std::vector<SplitRegion> tones;
};

Signal MakeSignal(const std::vector<std::pair<int32_t, double>>& parts, int channels, int32_t rate) {
    Signal s;
    int32_t at = 0;
    for (const auto& [frames, amplitude] : parts) {
        if (amplitude > 0) s.tones.push_back({at, at + frames});
        for (int32_t f = 0; f < frames; ++f) {
            const double v = amplitude * std::sin(2 * M_PI * 1000 * (at + f) / rate + 0.3);
            for (int c = 0; c < channels; ++c)
                s.samples.push_back(static_cast<int32_t>(v));
        }
        at += frames;
    }
    return s;
}

// The overview is coarse: the bounds keep the sound and at most a block or
// two of margin around it.
void ExpectTrimAround(const TrimBounds& b, int32_t soundStart, int32_t soundEnd) {
    EXPECT_LE(b.start, soundStart);
    EXPECT_GT(b.start, soundStart - 768);
    EXPECT_GE(b.end, soundEnd);
    EXPECT_LT(b.end, soundEnd + 768);
}

TEST(AutoTrim, KeepsTheSoundWithAMarginOfABlock) {
    const Signal s = MakeSignal({{10000, 0}, {5000, 262136}, {8000, 0}, {3000, 262136}, {6000, 0}}, 2, 44100);
    const AudioClip clip = test::ClipFromSamples(s.samples, 2);
    ExpectTrimAround(FindAutoTrimBounds(clip, -20), 10000, 26000);

    // Sound from the first frame to the last: nothing is cut.
    const Signal edges = MakeSignal({{200, 262136}, {9000, 0}, {100, 262136}}, 1, 44100);
    const TrimBounds all = FindAutoTrimBounds(test::ClipFromSamples(edges.samples, 1), -20);
    EXPECT_EQ(all.start, 0);
    EXPECT_EQ(all.end, 9300);

    // A quiet stretch (-30 dB) goes at -20 dB and stays at -40 dB.
    const Signal quiet =
        MakeSignal({{5000, 0}, {4000, 8290}, {3000, 0}, {4000, 262136}, {5000, 0}}, 1, 44100);
    const AudioClip q = test::ClipFromSamples(quiet.samples, 1);
    ExpectTrimAround(FindAutoTrimBounds(q, -20), 12000, 16000);
    ExpectTrimAround(FindAutoTrimBounds(q, -40), 5000, 16000);
    // Above the peak nothing counts as sound; no overflow at +127 dB.
    const TrimBounds none = FindAutoTrimBounds(q, 127);
    EXPECT_EQ(none.start, 0);
    EXPECT_EQ(none.end, q.Length());
}

TEST(AutoTrim, FollowsSegmentsAndTheirGains) {
    // A tone at [6000, 7000) of its file, placed at [4000, 5000) of the
    // document by a segment that starts mid-block on both sides.
    const Signal file = MakeSignal({{6000, 0}, {1000, 262136}, {13000, 0}}, 1, 44100);
    const AudioClip whole = test::ClipFromSamples(file.samples, 1);
    AudioClip doc;
    ClipExtract(doc, whole, 5000, 9000);
    ClipInsertSilence(doc, 3000, 0);
    ClipInsertSilence(doc, 2000, doc.Length());
    ExpectTrimAround(FindAutoTrimBounds(doc, -20), 4000, 5000);

    // Two equal tones, the first at about 2.05 times: its overview bytes
    // (127 x 2.05) must not wrap round to nearly nothing.
    const Signal two =
        MakeSignal({{3000, 0}, {2000, 262136}, {3000, 0}, {2000, 262136}, {3000, 0}}, 1, 44100);
    AudioClip gained = test::ClipFromSamples(two.samples, 1);
    ClipScaleRange(gained, 2000, 6000, 205);
    ExpectTrimAround(FindAutoTrimBounds(gained, -20), 3000, 10000);
}

TEST(AutoTrim, CommandCutsToTheBoundsAndLeavesSilenceAlone) {
    Editor e;
    const Signal s = MakeSignal({{10000, 0}, {5000, 262136}, {7000, 0}}, 2, 44100);
    Ref<SoundDocument> doc = MakeRef<SoundDocument>(44100, 2);
    doc->clip = test::ClipFromSamples(s.samples, 2);
    AutoTrimSettings settings;
    const TrimBounds b = FindAutoTrimBounds(doc->clip, settings.thresholdDb);
    ASSERT_EQ(EditAutoTrim(*doc, settings, e.ctx), kTaskDone);
    EXPECT_EQ(doc->Length(), b.end - b.start);
    EXPECT_EQ(test::ClipSamples(doc->clip),
              std::vector<int32_t>(s.samples.begin() + 2 * b.start, s.samples.begin() + 2 * b.end));
    EXPECT_EQ(doc->undo.UndoMenuText(), "Undo Auto Trim\tCtrl+Z");
    EXPECT_TRUE(e.ShowedText("AutoTrim"));
    EXPECT_EQ(doc->cursor, 0);

    Ref<SoundDocument> silent = MakeRef<SoundDocument>(44100, 1);
    silent->clip = test::ClipFromSamples(std::vector<int32_t>(5000, 1000), 1);  // overview bytes all 0
    ClipInsertSilence(silent->clip, 700, 2000);
    const AudioClip before = silent->clip;
    silent->cursor = 300;
    ASSERT_EQ(EditAutoTrim(*silent, settings, e.ctx), kTaskDone);
    EXPECT_EQ(silent->clip.Segments(), before.Segments());
    EXPECT_EQ(silent->cursor, 0);
}

TEST(AutoSplit, FindsEachToneAndHonoursTheMinimumSilence) {
    // 8000 Hz: blocks of 400 frames. Tones at [4000, 12000) and [18000,
    // 22000), 6000 frames (750 ms) apart.
    const Signal s = MakeSignal({{4000, 0}, {8000, 262136}, {6000, 0}, {4000, 262136}, {3000, 0}}, 1, 8000);
    const AudioClip clip = test::ClipFromSamples(s.samples, 1, 8000);
    for (const int32_t ms : {0, 500, 1000}) {
        AutoSplitSettings settings;
        settings.durationMs = ms;
        std::vector<SplitRegion> regions;
        test::ScriptedTaskHost host;
        ASSERT_EQ(Split(host, clip, settings, regions), kTaskDone);
        std::vector<SplitRegion> expected = s.tones;
        if (ms == 1000) expected = {{s.tones[0].start, s.tones[1].end}};
        ASSERT_EQ(regions.size(), expected.size()) << ms << " ms";
        // The tones lie on block boundaries: a region runs from half a block
        // before the first loud block to two blocks after the last one.
        for (size_t i = 0; i < regions.size(); ++i) {
            EXPECT_EQ(regions[i].start, expected[i].start - 200);
            EXPECT_EQ(regions[i].end, expected[i].end + 400);
        }
    }

    // Sound to the very end closes the region at the length; +127 dB finds
    // nothing; a cancel reports no regions.
    const Signal tail = MakeSignal({{1000, 0}, {2500, 262136}}, 2, 8000);
    const AudioClip t2 = test::ClipFromSamples(tail.samples, 2, 8000);
    std::vector<SplitRegion> regions;
    test::ScriptedTaskHost host;
    AutoSplitSettings settings;
    ASSERT_EQ(Split(host, t2, settings, regions), kTaskDone);
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_EQ(regions[0].end, 3500);
    settings.thresholdDb = 127;
    ASSERT_EQ(Split(host, t2, settings, regions), kTaskDone);
    EXPECT_TRUE(regions.empty());
    settings.thresholdDb = -36;
    host.cancelAfterPumps = host.pumps + 3;
    EXPECT_EQ(Split(host, clip, settings, regions), kTaskCancelled);
    EXPECT_TRUE(regions.empty());
}

}  // namespace
}  // namespace sonitor
