#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "document/AudioClip.h"
#include "foundation/AudioSource.h"
#include "foundation/ManualResetEvent.h"
#include "foundation/WorkerThread.h"

namespace sonitor {

class SoundDocument;

// The picture behind a wave window: per pixel column the largest upper and
// lower excursion (0..255) of the frames that fall on it, computed by a
// background thread from the ".grf" overview files when more than 256
// frames fall on a column and from the samples otherwise. Painting reads
// only this cache, never the disk. Qt-free so that the mapping, the column
// arithmetic and the scroll reuse are tested without a display.
//
// A plain source (a recording being made) can be attached instead of a
// document: it has no overview files, so its columns always come from the
// samples, and each column keeps one byte, the largest magnitude.
//
// Threads: every public call except the callbacks comes from the
// user-interface thread. The callbacks run on the worker thread; the window
// turns them into repaints of its own thread.
class WavePicture {
public:
    static constexpr int kMaxColumns = 2048;
    static constexpr int32_t kFramesPerPeak = 256;
    static constexpr int32_t kSampleReadFrames = 8192;

    // Display modes of a two-channel document (a mono one always shows 0).
    enum Mode : int32_t { kCombined = 0, kLeftUpRightDown = 1, kDual = 2 };

    // What a column's bytes hold. Excursions: the upper and lower bytes of
    // the display mode. Magnitude: the largest magnitude over all channels
    // >> 10, capped at 255, in both rows (a symmetric bar).
    enum class ColumnKind { kExcursions, kMagnitude };
    static constexpr int kMagnitudeShift = 10;

    // Called by the worker after columns c0..c1 were computed (inclusive);
    // `scrolled` is the pixel shift it applied to the cached picture first
    // (0 when it did not scroll).
    using ColumnsReady = std::function<void(int c0, int c1, int scrolled)>;

    WavePicture();
    ~WavePicture();  // stops the worker
    WavePicture(const WavePicture&) = delete;
    WavePicture& operator=(const WavePicture&) = delete;

    // Replacing a callback waits for a call of the old one in progress, so
    // an owner that clears it before going away is never called afterwards.
    // The callbacks must not wait for the user-interface thread.
    void SetColumnsReady(ColumnsReady callback);

    // Stops the worker (up to 5000 ms), takes rate and channels and a copy of
    // the document's clip with a reader over it, forgets the computed span
    // and starts the worker at the lowest priority.
    void Attach(const SoundDocument& document, int32_t mode, bool verticalZoom);
    // The same for any source, with magnitude columns. The picture seeks and
    // reads `reader` from its worker, so nobody else may use it meanwhile.
    // Its length is looked up again at every SetView, even one of the view
    // already shown: a source that grows shows its new frames then. A rate
    // of 0 or less counts as 44100 and a channel count below 1 as 1.
    void Attach(Ref<AudioSource> reader, int32_t sampleRate, int channels);
    // Stops the worker and lets the clip and reader go.
    void Detach();
    bool Attached() const { return attached_; }

    // Client size in pixels: width in columns = clientWidth - 2 limited to
    // 1..2048, height = clientHeight - 1 (at least 1); recomputes the mapping
    // and asks for every column again.
    void Resize(int clientWidth, int clientHeight);
    int Width() const { return width_; }
    int Height() const { return height_; }

    // Requests the view [start, start + span) and wakes the worker.
    void SetView(int32_t start, int32_t span);

    // The mapping of the view currently in the cache (truncating toward zero):
    // z = max(width, 8) / span; offset = trunc(z * start).
    double Zoom() const;
    int32_t ViewStart() const;
    int32_t ViewSpan() const;
    // trunc(f * z) - offset; -1 when the span is below 1 or the result is
    // negative; results above the width become the width.
    int PixelOfFrame(int32_t frame) const;
    // trunc((offset + x) / z); 0 when z is not positive.
    int32_t FrameAtColumn(int x) const;

    // Copies the cached bytes of columns 0..count-1 (count <= kMaxColumns)
    // under the cache lock; a paint uses this and nothing else.
    void CopyColumns(uint8_t* upper, uint8_t* lower, int count) const;

    int32_t SampleRate() const { return sampleRate_; }
    int Channels() const { return channels_; }
    ColumnKind Kind() const { return kind_; }
    // Frames of what is attached, as the worker last looked (0 detached).
    int32_t Length() const;
    // The mode in use: the attached mode for two channels, else 0.
    int32_t EffectiveMode() const { return channels_ == 2 ? mode_ : kCombined; }
    bool VerticalZoom() const { return verticalZoom_; }

    // Drag-scroll: while a drag has passed an edge, a scroll moves the
    // selection edge to the frame at column 0 (mode 6) or at the last column
    // (mode 4); the worker reports it through the DragEdge callback.
    enum DragScroll : int16_t { kNoDragScroll = 0, kPastRight = 4, kPastLeft = 6 };
    void SetDragScroll(DragScroll mode) { dragScroll_.store(mode); }
    using DragEdgeMoved = std::function<void(DragScroll mode, int32_t frame)>;
    void SetDragEdgeMoved(DragEdgeMoved callback);

    // Waits (pumping nothing) until the worker has computed the current
    // request or timeoutMs passed; true when idle. For tests and benchmarks.
    bool WaitIdle(int timeoutMs) const;

    // The column computations on their own, for tests and benchmarks: fill
    // upper/lower for columns c0..c1 of the current mapping. Only while the
    // worker is idle (or not running): they use its reader.
    void ComputeFromPeaks(int c0, int c1);
    void ComputeFromSamples(int c0, int c1);

private:
    class Worker;
    friend class Worker;

    // A view mapping, copied out of the cache lock so that the worker
    // computes against one consistent picture while the window resizes.
    struct Mapping {
        int32_t start = 0;
        int32_t span = 0;
        double zoom = 0.0;
        int64_t offset = 0;
        int width = 1;
        int64_t length = 0;  // of the attached audio, as the worker last looked

        int64_t FrameAt(int x) const;  // unclamped FrameAtColumn
        int64_t RawPixel(int64_t frame) const { return static_cast<int64_t>(frame * zoom) - offset; }
    };
    // What applying a request asks of the worker.
    struct Work {
        int c0 = 0;
        int c1 = -1;  // c0 > c1: nothing to compute
        int shift = 0;
        Mapping mapping;
        DragScroll edge = kNoDragScroll;  // the drag edge to report, if any
        int32_t edgeFrame = 0;
    };

    // Everything both attachments share once the reader and the format are
    // in place: forgets the request and the cache and starts the worker.
    void StartAttached();
    void WorkerLoop(const WorkerThread& thread);
    // Applies a request under the cache lock: `everything` after a reset or
    // a new attachment, else a span change or a pure scroll; `length` is
    // what the reader holds now.
    Work ApplyRequest(int32_t start, int32_t span, int64_t length, bool everything);
    void RecomputeMapping();  // under cacheLock_
    Mapping CurrentMapping() const;
    void StopWorker();
    // Computes columns c0..c1 of `mapping` and stores them; false when a stop
    // request cut the work short (what was done is stored).
    bool ComputeColumns(bool fromPeaks, const Mapping& mapping, int c0, int c1, const WorkerThread* thread);
    int ComputePeakColumns(const Mapping& mapping, int c0, int c1, uint8_t* upper, uint8_t* lower,
                           const WorkerThread* thread) const;
    int ComputeSampleColumns(const Mapping& mapping, int c0, int c1, uint8_t* upper, uint8_t* lower,
                             const WorkerThread* thread);

    mutable std::mutex cacheLock_;
    mutable std::mutex requestLock_;
    ManualResetEvent wake_;
    mutable ManualResetEvent idle_;
    std::array<uint8_t, kMaxColumns + 2> upper_{};
    std::array<uint8_t, kMaxColumns + 2> lower_{};

    // Request block (requestLock_).
    int32_t requestedStart_ = 0;
    int32_t requestedSpan_ = 0;
    bool reset_ = true;

    // Mapping (cacheLock_).
    int32_t viewStart_ = 0;
    int32_t viewSpan_ = 0;
    double zoom_ = 0.0;
    int64_t offset_ = 0;
    int width_ = 1;
    int height_ = 1;
    int64_t length_ = 0;

    // Attached document or source (a source leaves the clip empty).
    AudioClip clip_;
    Ref<AudioSource> reader_;
    int32_t sampleRate_ = 44100;
    int channels_ = 1;
    int32_t mode_ = kCombined;
    bool verticalZoom_ = false;
    ColumnKind kind_ = ColumnKind::kExcursions;  // magnitude: a source without overview files
    bool attached_ = false;

    std::atomic<int16_t> dragScroll_{kNoDragScroll};
    std::mutex callbackLock_;
    ColumnsReady columnsReady_;
    DragEdgeMoved dragEdgeMoved_;
    std::vector<int32_t> sampleBuffer_;  // the worker's read buffer
    std::unique_ptr<WorkerThread> worker_;
};

// ---- The view commands of the document's wave pane, on frames.

struct WaveViewRange {
    int32_t start = 0;
    int32_t end = 0;
};

// Setting a view: start not below 0, end not beyond length.
WaveViewRange ClampView(WaveViewRange view, int32_t length);
// Zoom In: span = (end - start) / 2, at least 100; start = cursor - span / 2
// (not below 0); end = start + span; then clamped.
WaveViewRange ZoomInView(WaveViewRange view, int32_t cursor, int32_t length);
// Zoom Out: span = 2 * (end - start), at most length; start =
// trunc(start - span * 0.25), not below 0; then clamped.
WaveViewRange ZoomOutView(WaveViewRange view, int32_t length);
// The main window's view after a change of the document: the end limited to
// the length, a start at or beyond the length becomes 0, an empty document
// shows [0, rate], and a view left empty shows the whole document.
WaveViewRange RelayoutView(WaveViewRange view, int32_t length, int32_t sampleRate);
// Keeps the cursor in view: after the end, the view ends at f with its span;
// before the start, it starts at f.
WaveViewRange FollowCursor(WaveViewRange view, int32_t frame);
// Scroll bar (range 0..200): the thumb for a cursor, f * 201 / length limited
// to 0..200 (0 for an empty document); the frame for a dragged thumb,
// trunc(length * p * 0.005) limited to 0..length; line/page steps move two
// seconds.
int ScrollThumbForFrame(int32_t frame, int32_t length);
int32_t FrameForScrollThumb(int position, int32_t length);

// ---- The mouse of a wave window, without the window: pivot, the grabbed
// edge, drag-scroll and the notifications a gesture produces.

class WaveMouseTracker {
public:
    // Notification codes to the owner.
    enum Code {
        kReleased = 2,
        kPastRight = 4,
        kBackFromRight = 5,
        kPastLeft = 6,
        kBackFromLeft = 7,
        kSelectionChanged = 8
    };

    struct State {
        int32_t selectionStart = 0;
        int32_t selectionEnd = 0;
        int32_t cursor = 0;  // the cursor band's start
        int32_t pivot = 0;
        int draggedBookmark = -1;
    };

    // Within 6 frames of an edge of a selection counts as near it. Without a
    // selection there is no edge to grab: a click next to the cursor places
    // it anew.
    static constexpr int32_t kEdgeFrames = 6;

    State& Current() { return state_; }
    const State& Current() const { return state_; }

    // Button down at frame f (bookmark = the bookmark under the pointer or
    // -1). Returns the codes to post, in order.
    std::vector<Code> Press(int32_t frame, bool shift, int bookmark);
    // Move while captured: x is the column, width the window's column count.
    std::vector<Code> Move(int32_t frame, int x, int width, bool shift);
    std::vector<Code> Release(int32_t frame, bool shift);
    // Hover: which edge the frame is near (for the sizing cursor).
    bool NearEdge(int32_t frame) const;
    int16_t DragScroll() const { return dragScroll_; }
    bool Captured() const { return captured_; }

private:
    State state_;
    bool captured_ = false;
    int16_t dragScroll_ = 0;
};

}  // namespace sonitor
