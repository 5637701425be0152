// The wave picture against flat models: peak-file columns against the
// working files' overview bytes looked up frame by frame, sample columns
// against the clip's samples, a scrolled picture against a fresh one of the
// same view. Then the view commands, the time texts and the mouse gestures.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "document/AudioClip.h"
#include "document/SoundDocument.h"
#include "document/WavePicture.h"
#include "document/WorkingFileTable.h"
#include "foundation/AudioSource.h"
#include "foundation/FileUtil.h"
#include "support/ClipSamples.h"

namespace sonitor {
namespace {

constexpr int kWaitMs = 20000;

using Columns = std::vector<std::pair<int, int>>;  // upper and lower byte of each column

// "" when equal, else the first column that differs.
std::string Difference(const Columns& got, const Columns& want) {
    if (got.size() != want.size()) return "widths differ";
    const auto [g, w] = std::mismatch(got.begin(), got.end(), want.begin());
    if (g == got.end()) return "";
    return "column " + std::to_string(g - got.begin()) + ": " + std::to_string(g->first) + "/" +
           std::to_string(g->second) + ", want " + std::to_string(w->first) + "/" + std::to_string(w->second);
}

Columns Snapshot(const WavePicture& p) {
    std::array<uint8_t, WavePicture::kMaxColumns + 1> up{}, down{};
    p.CopyColumns(up.data(), down.data(), p.Width() + 1);
    Columns c;
    for (int x = 0; x <= p.Width(); ++x)
        c.emplace_back(up[x], down[x]);
    return c;
}

// Noise whose loudness changes every few thousand frames, so neighbouring
// columns differ and a misplaced column shows.
std::vector<int32_t> Noise(int32_t frames, int channels, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int32_t> s(static_cast<size_t>(frames) * channels);
    int32_t level = 1;
    for (size_t i = 0; i < s.size(); ++i) {
        if (i % 6000 == 0) level = std::uniform_int_distribution<int32_t>(1, 524272)(rng);
        s[i] = std::uniform_int_distribution<int32_t>(-level, level)(rng);
    }
    return s;
}

// Several segments: two files (one entered away from its start), silence,
// a cut that is not block aligned, a loud stretch (gain 3) running straight
// into a nearly silent one (gains that shift to 2 and to 0).
AudioClip EditedStereoClip() {
    AudioClip clip = test::ClipFromSamples(Noise(400000, 2, 1), 2);
    const AudioClip other = test::ClipFromSamples(Noise(90000, 2, 2), 2);
    AudioClip piece;
    EXPECT_TRUE(ClipExtract(piece, other, 1000, 61000));
    EXPECT_TRUE(ClipInsert(clip, 250, piece));
    ClipScaleRange(clip, 100000, 150000, 300);
    ClipScaleRange(clip, 150000, 150777, 1);
    ClipScaleRange(clip, 150300, 150500, 1);
    EXPECT_TRUE(ClipInsertSilence(clip, 5000, 200123));
    ClipDeleteRange(clip, 300001, 300377);
    return clip;
}

// Columns as a picture of the given width computes them for a view.
Columns Computed(const AudioClip& clip, int32_t mode, bool vz, int clientWidth, int32_t start, int32_t span) {
    SoundDocument doc;
    doc.clip = clip;
    WavePicture p;
    p.Resize(clientWidth, 100);
    p.Attach(doc, mode, vz);
    p.SetView(start, span);
    EXPECT_TRUE(p.WaitIdle(kWaitMs));
    return Snapshot(p);
}

// Frame by frame: the overview entry of the block holding the frame, scaled
// by its segment's gain; a column keeps the largest.
Columns PeakOracle(const AudioClip& clip, int32_t mode, bool vz, const WavePicture& p) {
    std::map<uint16_t, std::string> grf;
    for (const ClipSegment& s : clip.Segments())
        if (!s.IsSilence()) grf[s.fileId] = ReadWholeFile(WorkingFileTable::OverviewPath(s.fileId)).value();
    const int ch = clip.Channels();
    Columns out(static_cast<size_t>(p.Width()) + 1);
    for (int x = 0; x <= p.Width(); ++x) {
        const int32_t a = std::max(p.FrameAtColumn(x), 0);
        const int32_t b = std::min(p.FrameAtColumn(x + 1), clip.Length());
        int32_t segStart = 0;
        for (const ClipSegment& s : clip.Segments()) {
            const int64_t g = s.gain >> (vz ? 13 : 16);
            for (int32_t f = std::max(a, segStart); !s.IsSilence() && f < std::min(b, segStart + s.frames);
                 ++f) {
                const auto* e = reinterpret_cast<const uint8_t*>(grf[s.fileId].data()) +
                                (s.firstFrame + f - segStart) / 256 * ch * 2;
                int u = 0, d = 0;
                for (int c = 0; c < ch; ++c) {
                    if (mode != 0 && ch == 2) {  // the left channel's two bytes up, the right's down
                        int& lane = c == 0 ? u : d;
                        lane = std::max({lane, int{e[2 * c]}, int{e[2 * c + 1]}});
                    } else {
                        u = std::max<int>(u, e[2 * c]);
                        d = std::max<int>(d, e[2 * c + 1]);
                    }
                }
                out[x].first = std::max<int>(out[x].first, std::min<int64_t>(255, u * g / 256));
                out[x].second = std::max<int>(out[x].second, std::min<int64_t>(255, d * g / 256));
            }
            segStart += s.frames;
        }
    }
    return out;
}

// From the samples a reader delivers; an empty column shows its own frame.
Columns SampleOracle(const AudioClip& clip, int32_t mode, bool vz, const WavePicture& p) {
    const std::vector<int32_t> s = test::ClipSamples(clip);
    const int ch = clip.Channels();
    const auto cap = [&](int64_t v) { return static_cast<int>(std::min<int64_t>(v >> (vz ? 8 : 11), 255)); };
    Columns out;
    for (int x = 0; x <= p.Width(); ++x) {
        const int32_t a = p.FrameAtColumn(x);
        const int32_t b = std::max(p.FrameAtColumn(x + 1), a + 1);
        int64_t hi[2] = {}, lo[2] = {};
        for (int32_t f = std::max(a, 0); f < std::min(b, clip.Length()); ++f) {
            for (int c = 0; c < ch; ++c) {
                const int lane = mode == 0 || ch != 2 ? 0 : c;
                hi[lane] = std::max<int64_t>(hi[lane], s[static_cast<size_t>(f) * ch + c]);
                lo[lane] = std::min<int64_t>(lo[lane], s[static_cast<size_t>(f) * ch + c]);
            }
        }
        if (mode == 0 || ch != 2)
            out.emplace_back(cap(hi[0]), cap(-lo[0]));
        else
            out.emplace_back(cap(std::max(hi[0], -lo[0])), cap(std::max(hi[1], -lo[1])));
    }
    return out;
}

struct View {
    int clientWidth;
    int32_t start, span;
};

void ExpectMatchesOracle(const AudioClip& clip, const View& v, bool peaks) {
    SoundDocument doc;
    doc.clip = clip;
    for (int32_t mode : {0, 1, 2}) {
        for (bool vz : {false, true}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + (vz ? " vertical zoom" : ""));
            WavePicture p;
            p.Resize(v.clientWidth, 60);
            p.Attach(doc, mode, vz);
            p.SetView(v.start, v.span);
            ASSERT_TRUE(p.WaitIdle(kWaitMs));
            // The oracles show a mono clip in mode 0 whatever the mode.
            const Columns want = peaks ? PeakOracle(clip, mode, vz, p) : SampleOracle(clip, mode, vz, p);
            EXPECT_EQ(Difference(Snapshot(p), want), "");
        }
    }
}

TEST(WavePicture, PeakColumnsMatchTheOverviewBytesAcrossSegmentsAndGains) {
    const AudioClip clip = EditedStereoClip();
    ExpectMatchesOracle(clip, {302, 0, clip.Length()}, true);
    ExpectMatchesOracle(clip, {102, 140000, 30000}, true);  // one column over the gain 3 / gain 0.01 seam
    ExpectMatchesOracle(test::ClipFromSamples(Noise(200000, 1, 4), 1), {102, 0, 200000}, true);
}

TEST(WavePicture, SampleColumnsMatchTheSamples) {
    const AudioClip clip = EditedStereoClip();
    ExpectMatchesOracle(clip, {102, 149000, 25600}, false);
    ExpectMatchesOracle(clip, {1002, 150250, 100}, false);  // ten columns per frame
    // Wider than the cache: 2048 columns, the last one at the document's end.
    ExpectMatchesOracle(clip, {3000, 0, clip.Length()}, false);
    ExpectMatchesOracle(test::ClipFromSamples(Noise(30000, 1, 3), 1), {52, 100, 12000}, false);
}

TEST(WavePicture, MoreThan256FramesPerColumnReadTheOverview) {
    // Constant magnitude 40000 (byte 19 from the samples); the overview file
    // is overwritten with 0x55 so that the source of every column shows.
    std::vector<int32_t> s(1000000);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = i % 2 ? 40000 : -40000;
    const AudioClip clip = test::ClipFromSamples(s, 1);
    const std::string grf = WorkingFileTable::OverviewPath(clip.Segments()[0].fileId);
    ASSERT_TRUE(WriteFileAtomically(grf, std::string(FileSize(grf).value(), '\x55')));
    for (auto [span, want] : {std::pair{1000000, 0x55}, {25600, 19}, {25700, 0x55}}) {
        const Columns c = Computed(clip, 0, false, 102, 0, span);
        EXPECT_EQ(std::count(c.begin(), c.begin() + 100, std::pair(want, want)), 100) << span;
    }
}

TEST(WavePicture, ScrollingReusesColumnsAndEqualsAFullRecompute) {
    const AudioClip clip = EditedStereoClip();
    SoundDocument doc;
    doc.clip = clip;
    for (int32_t span : {60000, 20000}) {  // 300 frames a column (overview), 100 (samples)
        // Written by the worker before it goes idle, read after WaitIdle.
        std::vector<std::array<int, 3>> ready;
        int32_t edge = -1;
        WavePicture p;
        p.SetColumnsReady([&](int c0, int c1, int shift) { ready.push_back({c0, c1, shift}); });
        p.SetDragEdgeMoved([&](WavePicture::DragScroll, int32_t frame) { edge = frame; });
        p.Resize(202, 80);
        p.Attach(doc, 1, false);
        int32_t start = 50000;
        p.SetView(start, span);
        ASSERT_TRUE(p.WaitIdle(kWaitMs));
        p.SetDragScroll(WavePicture::kPastRight);
        for (int32_t step : {7 * span / 200, -13 * span / 200, 1001, -777, span, -3 * span / 2, 1}) {
            start += step;
            ready.clear();
            p.SetView(start, span);
            ASSERT_TRUE(p.WaitIdle(kWaitMs));
            SCOPED_TRACE(step);
            EXPECT_EQ(Difference(Snapshot(p), Computed(clip, 1, false, 202, start, span)), "");
            const int moved = std::abs(step) * 200 / span;
            if (moved > 0 && moved < 200) {
                ASSERT_EQ(ready.size(), 1u);
                EXPECT_NE(ready[0][2], 0);
                EXPECT_LE(ready[0][1] - ready[0][0], moved + 2);  // only the uncovered columns
            }
            EXPECT_EQ(edge, p.FrameAtColumn(200));
        }
    }
}

TEST(WavePicture, EmptyAndDegenerateViewsDivideByNothing) {
    SoundDocument empty;
    WavePicture p;
    p.Resize(0, 0);
    EXPECT_EQ(p.Width(), 1);
    p.Attach(empty, 2, true);
    p.SetView(0, 44100);
    ASSERT_TRUE(p.WaitIdle(kWaitMs));
    EXPECT_EQ(Snapshot(p), (Columns{{0, 0}, {0, 0}}));
    p.SetView(10, 0);
    ASSERT_TRUE(p.WaitIdle(kWaitMs));
    EXPECT_EQ(p.PixelOfFrame(10), -1);
    EXPECT_EQ(p.FrameAtColumn(1), 0);
    EXPECT_EQ(ScrollThumbForFrame(10, 0), 0);
    EXPECT_EQ(FrameForScrollThumb(100, 0), 0);
    EXPECT_EQ(ScrollThumbForFrame(1000, 1000), 200);  // the bar ends at 200, not 201
}

TEST(WavePicture, DetachDuringAComputationStopsTheWorker) {
    SoundDocument doc;
    doc.clip = EditedStereoClip();
    WavePicture p;
    p.Resize(2050, 100);
    for (int i = 0; i < 21; ++i) {
        p.Attach(doc, i % 3, i % 2);
        p.SetView(i * 1000, doc.clip.Length() - i * 1000);
        if (i % 2) p.Detach();
    }
    EXPECT_TRUE(p.WaitIdle(kWaitMs));  // the last one still computes to the end
}

// A take as its reader sees it while it is recorded: the first `written`
// frames, silence after them.
class TakeSource final : public AudioSource {
public:
    TakeSource(std::vector<int32_t> samples, int channels)
        : AudioSource(22050, kFullScaleHeadroom, channels), samples_(std::move(samples)) {}
    void Read(int32_t* buffer, int32_t frames) override {
        const int ch = Channels();
        for (int64_t i = 0; i < frames; ++i, ++position_)
            for (int c = 0; c < ch; ++c)
                buffer[i * ch + c] = position_ >= 0 && position_ < written ? samples_[position_ * ch + c] : 0;
    }
    int32_t Position() const override { return static_cast<int32_t>(position_); }
    int32_t Length() const override { return written; }
    void Seek(int32_t position) override { position_ = position; }

    std::atomic<int32_t> written{0};

private:
    std::vector<int32_t> samples_;
    int64_t position_ = 0;
};

// Per column the largest magnitude of any channel's sample among the first
// `length` frames, >> 10 and capped, in both rows; an empty column shows
// its own frame.
Columns MagnitudeOracle(const std::vector<int32_t>& s, int ch, int32_t length, const WavePicture& p) {
    Columns out;
    for (int x = 0; x <= p.Width(); ++x) {
        const int32_t a = p.FrameAtColumn(x);
        const int32_t b = std::max(p.FrameAtColumn(x + 1), a + 1);
        int64_t m = 0;
        for (int32_t f = std::max(a, 0); f < std::min(b, length); ++f)
            for (int c = 0; c < ch; ++c)
                m = std::max<int64_t>(m, std::llabs(s[static_cast<size_t>(f) * ch + c]));
        const int byte = static_cast<int>(std::min<int64_t>(m >> 10, 255));
        out.emplace_back(byte, byte);
    }
    return out;
}

TEST(WavePicture, SourceColumnsKeepTheLargestMagnitudeOfWhatIsWritten) {
    std::vector<int32_t> s = Noise(300000, 2, 6);
    // Frames 1000..1099 silent but for single samples at the byte's edges
    // and the ends of the sample range, ten columns a frame in the view below.
    std::fill(s.begin() + 2000, s.begin() + 2200, 0);
    const std::array<int32_t, 6> lone = {std::numeric_limits<int32_t>::min(),
                                         std::numeric_limits<int32_t>::max(),
                                         261120,
                                         -261119,
                                         1024,
                                         -1023};
    for (size_t i = 0; i < lone.size(); ++i)
        s[(1010 + 10 * i) * 2 + i % 2] = lone[i];
    auto take = MakeRef<TakeSource>(s, 2);
    take->written = 300000;

    WavePicture p;
    p.Resize(1002, 60);
    p.Attach(take, 0, 0);
    EXPECT_EQ(std::pair(p.SampleRate(), p.Channels()), std::pair(44100, 1));
    p.SetView(1000, 100);
    ASSERT_TRUE(p.WaitIdle(kWaitMs));
    EXPECT_EQ(Difference(Snapshot(p), MagnitudeOracle(s, 2, 300000, p)), "");
    const Columns zoomed = Snapshot(p);
    for (size_t i = 0; i < lone.size(); ++i)
        EXPECT_EQ(zoomed[100 + 100 * i].first, (std::array{255, 255, 255, 254, 1, 0})[i]) << lone[i];

    // Thousands of frames a column: still from the samples (there is no
    // overview), past the end of the take as well.
    p.Resize(3000, 60);
    p.SetView(0, 600000);
    ASSERT_TRUE(p.WaitIdle(kWaitMs));
    EXPECT_EQ(Difference(Snapshot(p), MagnitudeOracle(s, 2, 300000, p)), "");

    // A take that grows (or starts again): every request looks at the
    // length again, for the same view, a new span and a scroll that keeps
    // columns drawn for the old length.
    p.Resize(102, 60);
    for (auto [written, start, span] : {std::tuple{100000, 0, 300000},
                                        {180000, 0, 300000},
                                        {250000, 0, 299999},
                                        {270000, 29999, 299999},
                                        {40000, 0, 299999}}) {
        take->written = written;
        p.SetView(start, span);
        ASSERT_TRUE(p.WaitIdle(kWaitMs));
        EXPECT_EQ(p.Length(), written);
        EXPECT_EQ(Difference(Snapshot(p), MagnitudeOracle(s, 2, written, p)), "") << written;
    }

    // A document attached afterwards is drawn as excursions again.
    SoundDocument doc;
    doc.clip = test::ClipFromSamples(Noise(30000, 2, 7), 2);
    p.Attach(doc, 1, false);
    p.SetView(100, 12000);
    ASSERT_TRUE(p.WaitIdle(kWaitMs));
    EXPECT_EQ(Difference(Snapshot(p), SampleOracle(doc.clip, 1, false, p)), "");
    p.Detach();
    EXPECT_EQ(p.Length(), 0);
}

TEST(WaveView, ZoomAndRelayoutStayInsideTheDocument) {
    EXPECT_EQ(ZoomInView({0, 150}, 75, 100000).end - ZoomInView({0, 150}, 75, 100000).start, 100);
    const WaveViewRange out = ZoomOutView({400, 600}, 1000);
    EXPECT_EQ(std::pair(out.start, out.end), std::pair(300, 700));
    std::mt19937 rng(5);
    for (int i = 0; i < 2000; ++i) {
        const int32_t length = std::uniform_int_distribution<int32_t>(0, 1 << 30)(rng);
        const int32_t a = std::uniform_int_distribution<int32_t>(0, length)(rng);
        const int32_t b = std::uniform_int_distribution<int32_t>(a, length)(rng);
        const WaveViewRange v = ZoomOutView({a, b}, length);
        ASSERT_GE(v.start, 0);
        ASSERT_LE(v.end, length);
        ASSERT_LE(v.end - v.start, length);
    }
    // An empty document shows one second; a view left empty by an edit the whole document.
    EXPECT_EQ(RelayoutView({500, 900}, 0, 22050).end, 22050);
    EXPECT_EQ(RelayoutView({800, 900}, 700, 22050).end, 700);
}

using Codes = std::vector<WaveMouseTracker::Code>;

TEST(WaveMouse, ClickShiftClickAndDragsAroundThePivot) {
    WaveMouseTracker t;
    auto& s = t.Current();
    EXPECT_TRUE(t.Press(500, false, -1).empty());
    EXPECT_EQ(t.Release(500, false), Codes{WaveMouseTracker::kReleased});
    EXPECT_EQ(std::tuple(s.selectionStart, s.selectionEnd, s.cursor), std::tuple(500, 500, 500));

    // Shift+click selects from the pivot; the cursor stays.
    t.Press(200, true, -1);
    EXPECT_EQ(t.Release(200, true), Codes{WaveMouseTracker::kReleased});
    EXPECT_EQ(std::tuple(s.selectionStart, s.selectionEnd, s.cursor), std::tuple(200, 500, 500));

    // A fresh drag, back across its pivot.
    t.Press(1000, false, -1);
    EXPECT_EQ(t.Move(1200, 50, 100, false), Codes{WaveMouseTracker::kSelectionChanged});
    t.Move(800, 40, 100, false);
    EXPECT_EQ(std::pair(s.selectionStart, s.selectionEnd), std::pair(800, 1000));
    t.Release(800, false);

    // Grabbing the end edge keeps the start as the pivot; the start edge the end.
    EXPECT_TRUE(t.NearEdge(1006) && !t.NearEdge(1007));
    t.Press(1004, false, -1);
    EXPECT_EQ(s.cursor, 1000);
    t.Move(1500, 60, 100, false);
    t.Release(1500, false);
    EXPECT_EQ(std::tuple(s.selectionStart, s.selectionEnd, s.cursor), std::tuple(800, 1500, 1500));
    t.Press(795, false, -1);
    t.Move(100, 10, 100, false);
    EXPECT_EQ(std::pair(s.selectionStart, s.selectionEnd), std::pair(100, 1500));
    t.Release(100, false);

    // Without a selection a click next to the cursor places it anew.
    t.Press(50, false, -1);
    t.Release(50, false);
    t.Press(53, false, -1);
    t.Release(53, false);
    EXPECT_EQ(std::tuple(s.selectionStart, s.selectionEnd, s.cursor), std::tuple(53, 53, 53));
}

TEST(WaveMouse, EdgeCodesAndBookmarkDrags) {
    using W = WaveMouseTracker;
    WaveMouseTracker t;
    t.Press(0, false, -1);
    EXPECT_EQ(t.Move(10, 100, 100, false), (Codes{W::kPastRight, W::kSelectionChanged}));
    EXPECT_EQ(t.Move(20, 130, 100, false), Codes{W::kSelectionChanged});
    EXPECT_EQ(t.Move(5, 50, 100, false), (Codes{W::kBackFromRight, W::kSelectionChanged}));
    EXPECT_EQ(t.Move(0, 0, 100, true), Codes{W::kPastLeft});
    EXPECT_EQ(t.Move(30, 100, 100, false), (Codes{W::kBackFromLeft, W::kPastRight, W::kSelectionChanged}));
    EXPECT_EQ(t.Release(30, false), (Codes{W::kBackFromRight, W::kReleased}));
    EXPECT_FALSE(t.Captured());

    t.Press(400, false, 3);
    EXPECT_EQ(t.Current().draggedBookmark, 3);
    EXPECT_TRUE(t.Move(450, 120, 100, false).empty());
    EXPECT_TRUE(t.Release(450, false).empty());
    EXPECT_EQ(t.Current().draggedBookmark, -1);
    EXPECT_EQ(std::pair(t.Current().selectionStart, t.Current().selectionEnd), std::pair(0, 30));
}

}  // namespace
}  // namespace sonitor
