#include "document/WavePicture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include <fcntl.h>

#include "document/ClipReader.h"
#include "document/SoundDocument.h"
#include "document/WorkingFileTable.h"
#include "foundation/FileUtil.h"

namespace sonitor {

namespace {

// The worker sleeps in slices this long between looks at its request; a
// SetView or a stop ends the sleep at once.
constexpr int kIdleWaitMs = 60 * 60 * 1000;
constexpr int kStopTimeoutMs = 5000;
// Bytes of one overview run: (512 / channels - 1) blocks of channels * 2
// bytes always fit.
constexpr size_t kRunBytes = 1024;

int32_t ClampFrame(int64_t v) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

uint8_t CapByte(int64_t v) {
    return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
}

struct PeakPair {
    int upper = 0;
    int lower = 0;
};

// Reads the overview entries of one working file at a time in runs that
// never pass the end of the segment being read, keeping the last run so
// that the block two neighbouring columns share is read once.
class OverviewRuns {
public:
    OverviewRuns(int channels, int32_t mode)
        : channels_(channels), mode_(mode), maxRun_(std::max(1, 512 / channels - 1)) {}

    // The largest bytes of blocks [b0, b1) of file id; limit is the block
    // after the segment's last one. False when a stop cut the scan short.
    bool Scan(uint16_t id, int64_t b0, int64_t b1, int64_t limit, PeakPair& peak,
              const WorkerThread* thread) {
        if (id != fileId_) {
            fileId_ = id;
            count_ = 0;
            // A missing overview file reads as silence, like a missing
            // sample file does.
            file_.Reset(::open(WorkingFileTable::OverviewPath(id).c_str(), O_RDONLY | O_CLOEXEC));
        }
        for (int64_t block = b0; block < b1;) {
            if (block < first_ || block >= first_ + count_) {
                if (thread != nullptr && thread->StopRequested()) return false;
                Fill(block, limit);
            }
            const int64_t k = std::min(b1, first_ + count_) - block;
            Fold(buffer_ + (block - first_) * channels_ * 2, k, peak);
            block += k;
        }
        return true;
    }

private:
    void Fill(int64_t block, int64_t limit) {
        const int64_t n = std::clamp<int64_t>(limit - block, 1, maxRun_);
        const size_t bytes = static_cast<size_t>(n * channels_ * 2);
        int64_t got = file_ ? ReadAt(file_.Get(), buffer_, bytes, block * channels_ * 2) : 0;
        got = std::max<int64_t>(got, 0);
        // A short overview file (a write that failed) gives zeros for the rest.
        std::memset(buffer_ + got, 0, bytes - static_cast<size_t>(got));
        first_ = block;
        count_ = n;
    }

    void Fold(const uint8_t* p, int64_t blocks, PeakPair& peak) const {
        int u = peak.upper;
        int l = peak.lower;
        if (mode_ == WavePicture::kCombined) {
            const int64_t entries = blocks * channels_;
            for (int64_t i = 0; i < entries; ++i) {
                u = std::max<int>(u, p[2 * i]);
                l = std::max<int>(l, p[2 * i + 1]);
            }
        } else {
            // Two channels: the left entry's bytes go up, the right's down.
            for (int64_t b = 0; b < blocks; ++b) {
                u = std::max({u, int{p[4 * b]}, int{p[4 * b + 1]}});
                l = std::max({l, int{p[4 * b + 2]}, int{p[4 * b + 3]}});
            }
        }
        peak.upper = u;
        peak.lower = l;
    }

    int channels_;
    int32_t mode_;
    int64_t maxRun_;
    uint16_t fileId_ = kSilenceFileId;
    UniqueFd file_;
    int64_t first_ = 0;
    int64_t count_ = 0;
    uint8_t buffer_[kRunBytes];
};

}  // namespace

// ---- WavePicture

class WavePicture::Worker final : public WorkerThread {
public:
    explicit Worker(WavePicture& owner) : owner_(owner) {}
    ~Worker() override { Stop(kStopTimeoutMs); }

protected:
    void Run() override { owner_.WorkerLoop(*this); }

private:
    WavePicture& owner_;
};

int64_t WavePicture::Mapping::FrameAt(int x) const {
    if (zoom <= 0.0) return 0;
    return static_cast<int64_t>(static_cast<double>(offset + x) / zoom);
}

WavePicture::WavePicture() : idle_(true), worker_(std::make_unique<Worker>(*this)) {}

WavePicture::~WavePicture() {
    // Joined here, while everything its loop uses still exists.
    worker_.reset();
}

void WavePicture::SetColumnsReady(ColumnsReady callback) {
    std::lock_guard<std::mutex> lock(callbackLock_);
    columnsReady_ = std::move(callback);
}

void WavePicture::SetDragEdgeMoved(DragEdgeMoved callback) {
    std::lock_guard<std::mutex> lock(callbackLock_);
    dragEdgeMoved_ = std::move(callback);
}

void WavePicture::StopWorker() {
    // A worker that does not end in time is waited for all the same: the
    // reader and the clip must not change under it.
    if (!worker_->Stop(kStopTimeoutMs)) worker_ = std::make_unique<Worker>(*this);
}

void WavePicture::Attach(const SoundDocument& document, int32_t mode, bool verticalZoom) {
    StopWorker();
    clip_ = document.clip;
    reader_ = OpenClipReader(clip_);
    sampleRate_ = clip_.SampleRate() == 0 ? 44100 : static_cast<int32_t>(clip_.SampleRate());
    channels_ = std::max(1, int{clip_.Channels()});
    mode_ = mode == kLeftUpRightDown || mode == kDual ? mode : kCombined;
    verticalZoom_ = verticalZoom;
    kind_ = ColumnKind::kExcursions;
    StartAttached();
}

void WavePicture::Attach(Ref<AudioSource> reader, int32_t sampleRate, int channels) {
    StopWorker();
    clip_ = AudioClip();
    reader_ = std::move(reader);
    sampleRate_ = sampleRate > 0 ? sampleRate : 44100;
    channels_ = std::max(channels, 1);
    mode_ = kCombined;
    verticalZoom_ = false;
    kind_ = ColumnKind::kMagnitude;
    StartAttached();
}

void WavePicture::StartAttached() {
    {
        std::lock_guard<std::mutex> lock(requestLock_);
        requestedStart_ = 0;
        requestedSpan_ = 0;
        reset_ = true;
        idle_.Reset();
    }
    {
        std::lock_guard<std::mutex> lock(cacheLock_);
        viewStart_ = 0;
        viewSpan_ = 0;
        length_ = reader_ ? reader_->Length() : 0;
        RecomputeMapping();
        upper_.fill(0);
        lower_.fill(0);
    }
    attached_ = true;
    wake_.Set();
    worker_->Start(ThreadPriority::BelowNormal);
}

void WavePicture::Detach() {
    StopWorker();
    reader_.Reset();
    clip_ = AudioClip();
    attached_ = false;
    std::lock_guard<std::mutex> lock(cacheLock_);
    length_ = 0;
}

void WavePicture::Resize(int clientWidth, int clientHeight) {
    {
        std::lock_guard<std::mutex> lock(cacheLock_);
        width_ = std::clamp(clientWidth - 2, 1, kMaxColumns);
        height_ = std::max(clientHeight - 1, 1);
        RecomputeMapping();
    }
    {
        std::lock_guard<std::mutex> lock(requestLock_);
        reset_ = true;
        idle_.Reset();
    }
    wake_.Set();
}

void WavePicture::SetView(int32_t start, int32_t span) {
    {
        std::lock_guard<std::mutex> lock(requestLock_);
        requestedStart_ = start;
        requestedSpan_ = span;
        idle_.Reset();
    }
    wake_.Set();
}

void WavePicture::RecomputeMapping() {
    zoom_ = viewSpan_ >= 1 ? static_cast<double>(std::max(width_, 8)) / viewSpan_ : 0.0;
    offset_ = static_cast<int64_t>(zoom_ * viewStart_);
}

WavePicture::Mapping WavePicture::CurrentMapping() const {
    return Mapping{viewStart_, viewSpan_, zoom_, offset_, width_, length_};
}

int32_t WavePicture::Length() const {
    std::lock_guard<std::mutex> lock(cacheLock_);
    return ClampFrame(length_);
}

double WavePicture::Zoom() const {
    std::lock_guard<std::mutex> lock(cacheLock_);
    return zoom_;
}

int32_t WavePicture::ViewStart() const {
    std::lock_guard<std::mutex> lock(cacheLock_);
    return viewStart_;
}

int32_t WavePicture::ViewSpan() const {
    std::lock_guard<std::mutex> lock(cacheLock_);
    return viewSpan_;
}

int WavePicture::PixelOfFrame(int32_t frame) const {
    std::lock_guard<std::mutex> lock(cacheLock_);
    if (viewSpan_ < 1) return -1;
    const int64_t pixel = CurrentMapping().RawPixel(frame);
    if (pixel < 0) return -1;
    return pixel > width_ ? width_ : static_cast<int>(pixel);
}

int32_t WavePicture::FrameAtColumn(int x) const {
    std::lock_guard<std::mutex> lock(cacheLock_);
    return ClampFrame(CurrentMapping().FrameAt(x));
}

void WavePicture::CopyColumns(uint8_t* upper, uint8_t* lower, int count) const {
    const size_t n = static_cast<size_t>(std::clamp(count, 0, kMaxColumns));
    std::lock_guard<std::mutex> lock(cacheLock_);
    std::memcpy(upper, upper_.data(), n);
    std::memcpy(lower, lower_.data(), n);
}

bool WavePicture::WaitIdle(int timeoutMs) const {
    if (!attached_) return true;
    return idle_.WaitFor(timeoutMs);
}

void WavePicture::WorkerLoop(const WorkerThread& thread) {
    bool computed = false;
    int32_t doneStart = 0;
    int32_t doneSpan = 0;
    int64_t doneLength = 0;
    while (!thread.StopRequested()) {
        int32_t start = 0;
        int32_t span = 0;
        bool idle = false;
        // A source that is still being written grows between passes: a
        // request for the same view looks again when it did.
        const int64_t length = reader_ ? reader_->Length() : 0;
        {
            std::lock_guard<std::mutex> lock(requestLock_);
            start = requestedStart_;
            span = requestedSpan_;
            if (reset_) {
                reset_ = false;
                computed = false;
            }
            // Reset and idle are decided under the request lock, so a request
            // made meanwhile always sets the event again after this.
            if (computed && start == doneStart && span == doneSpan && length == doneLength) {
                wake_.Reset();
                idle_.Set();
                idle = true;
            }
        }
        if (idle) {
            thread.WaitForEventOrStop(wake_, kIdleWaitMs);
            continue;
        }

        const Work work = ApplyRequest(start, span, length, !computed);
        if (work.edge != kNoDragScroll) {
            std::lock_guard<std::mutex> lock(callbackLock_);
            if (dragEdgeMoved_) dragEdgeMoved_(work.edge, work.edgeFrame);
        }
        if (work.c0 <= work.c1) {
            const bool fromPeaks = kind_ == ColumnKind::kExcursions &&
                                   int64_t{span} > int64_t{work.mapping.width} * kFramesPerPeak;
            if (!ComputeColumns(fromPeaks, work.mapping, work.c0, work.c1, &thread)) return;
            std::lock_guard<std::mutex> lock(callbackLock_);
            if (columnsReady_) columnsReady_(work.c0, work.c1, work.shift);
        }
        computed = true;
        doneStart = start;
        doneSpan = span;
        doneLength = length;
    }
}

WavePicture::Work WavePicture::ApplyRequest(int32_t start, int32_t span, int64_t length, bool everything) {
    std::lock_guard<std::mutex> lock(cacheLock_);
    const int64_t lengthBefore = length_;
    length_ = length;
    Work work;
    if (everything || span != viewSpan_) {
        viewStart_ = start;
        viewSpan_ = span;
        RecomputeMapping();
        work.c0 = 0;
        work.c1 = width_;
    } else {
        // A pure scroll. The unclamped pixel of the new start in the old
        // mapping: clamped to -1 a scroll to the left would always look like
        // a shift of one pixel.
        const int64_t shift = -CurrentMapping().RawPixel(start);
        viewStart_ = start;
        RecomputeMapping();
        const DragScroll edge = static_cast<DragScroll>(dragScroll_.load());
        if (edge == kPastLeft || edge == kPastRight) {
            work.edge = edge;
            work.edgeFrame = ClampFrame(CurrentMapping().FrameAt(edge == kPastLeft ? 0 : width_));
        }
        if (shift != 0 && (shift < 0 ? -shift : shift) < width_) {
            // Column x now shows what column x - shift showed.
            const int s = static_cast<int>(shift);
            const auto kept = static_cast<size_t>(width_ + 1 - (s < 0 ? -s : s));
            if (s < 0) {
                std::memmove(upper_.data(), upper_.data() - s, kept);
                std::memmove(lower_.data(), lower_.data() - s, kept);
                work.c0 = width_ - 1 + s;
                work.c1 = width_;
            } else {
                std::memmove(upper_.data() + s, upper_.data(), kept);
                std::memmove(lower_.data() + s, lower_.data(), kept);
                work.c0 = 0;
                work.c1 = s + 1;
            }
            work.shift = s;
        } else if (shift != 0) {
            work.c0 = 0;
            work.c1 = width_;
        }
        if (length != lengthBefore) {
            // The kept columns from the nearer of the two ends on (and the
            // one before, for rounding) were computed for the other length.
            const int64_t end =
                std::clamp<int64_t>(CurrentMapping().RawPixel(std::min(length, lengthBefore)) - 1, 0, width_);
            work.c0 =
                work.c0 <= work.c1 ? std::min<int>(work.c0, static_cast<int>(end)) : static_cast<int>(end);
            work.c1 = width_;
        }
    }
    const int last = std::min(width_, kMaxColumns);
    work.c0 = std::clamp(work.c0, 0, last);
    work.c1 = std::min(work.c1, last);
    work.mapping = CurrentMapping();
    return work;
}

void WavePicture::ComputeFromPeaks(int c0, int c1) {
    Mapping mapping;
    {
        std::lock_guard<std::mutex> lock(cacheLock_);
        mapping = CurrentMapping();
    }
    ComputeColumns(true, mapping, std::max(c0, 0), std::min(c1, mapping.width), nullptr);
}

void WavePicture::ComputeFromSamples(int c0, int c1) {
    Mapping mapping;
    {
        std::lock_guard<std::mutex> lock(cacheLock_);
        mapping = CurrentMapping();
    }
    ComputeColumns(false, mapping, std::max(c0, 0), std::min(c1, mapping.width), nullptr);
}

bool WavePicture::ComputeColumns(bool fromPeaks, const Mapping& mapping, int c0, int c1,
                                 const WorkerThread* thread) {
    if (c0 > c1) return true;
    std::array<uint8_t, kMaxColumns + 2> upper{};
    std::array<uint8_t, kMaxColumns + 2> lower{};
    const int wanted = c1 - c0 + 1;
    int done = wanted;
    // An empty view or document draws nothing; z would be 0 or there is
    // nothing to read.
    if (mapping.span >= 1 && mapping.zoom > 0.0 && mapping.length > 0) {
        done = fromPeaks ? ComputePeakColumns(mapping, c0, c1, upper.data(), lower.data(), thread)
                         : ComputeSampleColumns(mapping, c0, c1, upper.data(), lower.data(), thread);
    }
    std::lock_guard<std::mutex> lock(cacheLock_);
    std::memcpy(upper_.data() + c0, upper.data(), static_cast<size_t>(done));
    std::memcpy(lower_.data() + c0, lower.data(), static_cast<size_t>(done));
    return done == wanted;
}

int WavePicture::ComputePeakColumns(const Mapping& mapping, int c0, int c1, uint8_t* upper, uint8_t* lower,
                                    const WorkerThread* thread) const {
    const std::vector<ClipSegment>& segments = clip_.Segments();
    const int64_t length = clip_.Length();
    const int32_t mode = EffectiveMode();
    const int gainShift = verticalZoom_ ? 13 : 16;
    OverviewRuns runs(channels_, mode);

    size_t index = 0;          // the first segment that may hold the column's frames
    int64_t segmentStart = 0;  // its first frame in the clip
    for (int x = c0; x <= c1; ++x) {
        const int64_t a = std::max<int64_t>(mapping.FrameAt(x), 0);
        const int64_t b = std::min<int64_t>(mapping.FrameAt(x + 1), length);
        int up = 0;
        int down = 0;
        while (index < segments.size() && segmentStart + segments[index].frames <= a) {
            segmentStart += segments[index].frames;
            ++index;
        }
        // Each segment's bytes are scaled by its own gain before the column
        // takes the largest, so a quiet or silenced segment never turns a
        // loud neighbour's maximum into a division by a small gain.
        int64_t s = segmentStart;
        for (size_t i = index; i < segments.size() && s < b; s += segments[i].frames, ++i) {
            const ClipSegment& seg = segments[i];
            int64_t g = seg.gain >> gainShift;
            if (seg.IsSilence() || g == 0) continue;
            const int64_t fa = seg.firstFrame + (std::max(a, s) - s);
            const int64_t fb = seg.firstFrame + (std::min(b, s + seg.frames) - s);
            const int64_t limit =
                (int64_t{seg.firstFrame} + seg.frames + kFramesPerPeak - 1) / kFramesPerPeak;
            PeakPair peak;
            if (!runs.Scan(seg.fileId, fa / kFramesPerPeak, (fb + kFramesPerPeak - 1) / kFramesPerPeak, limit,
                           peak, thread)) {
                return x - c0;
            }
            if (g < 0) {
                // An inverted segment: its positive peaks point down.
                g = -g;
                if (mode == kCombined) std::swap(peak.upper, peak.lower);
            }
            up = std::max<int>(up, CapByte(peak.upper * g / 256));
            down = std::max<int>(down, CapByte(peak.lower * g / 256));
        }
        upper[x - c0] = static_cast<uint8_t>(up);
        lower[x - c0] = static_cast<uint8_t>(down);
        if (thread != nullptr && thread->StopRequested()) return x - c0 + 1;
    }
    return c1 - c0 + 1;
}

int WavePicture::ComputeSampleColumns(const Mapping& mapping, int c0, int c1, uint8_t* upper, uint8_t* lower,
                                      const WorkerThread* thread) {
    if (!reader_) return c1 - c0 + 1;
    AudioSource& reader = *reader_;
    const int channels = reader.Channels();
    const bool magnitude = kind_ == ColumnKind::kMagnitude;
    // The magnitude over all channels is the larger of the combined fold's
    // two sides.
    const int32_t mode = channels == 2 && !magnitude ? mode_ : kCombined;
    const int shift = magnitude ? kMagnitudeShift : verticalZoom_ ? 8 : 11;
    const int64_t length = mapping.length;
    // Zoomed in past one frame per column, a column whose range is empty
    // shows the frame it lies on instead of a gap.
    const auto columnEnd = [&](int x, int64_t a) { return std::max(mapping.FrameAt(x + 1), a + 1); };
    const int64_t readLimit = std::min(length, columnEnd(c1, mapping.FrameAt(c1)));
    sampleBuffer_.resize(static_cast<size_t>(kSampleReadFrames) * static_cast<size_t>(channels));
    int32_t* buffer = sampleBuffer_.data();
    int64_t bufferStart = 0;
    int64_t bufferFrames = 0;

    for (int x = c0; x <= c1; ++x) {
        const int64_t a = mapping.FrameAt(x);
        const int64_t end = std::min(columnEnd(x, a), length);
        // Per channel lane: largest sample and smallest, both starting at 0
        // so that a one-sided column still gives 0 on its other side.
        int32_t hi[2] = {0, 0};
        int32_t lo[2] = {0, 0};
        for (int64_t f = std::max<int64_t>(a, 0); f < end;) {
            if (f < bufferStart || f >= bufferStart + bufferFrames) {
                const int32_t n = static_cast<int32_t>(std::min<int64_t>(kSampleReadFrames, readLimit - f));
                if (reader.Position() != f) reader.Seek(static_cast<int32_t>(f));
                reader.Read(buffer, n);
                bufferStart = f;
                bufferFrames = n;
            }
            const int64_t k = std::min(end, bufferStart + bufferFrames) - f;
            const int32_t* p = buffer + (f - bufferStart) * channels;
            if (mode == kCombined) {
                int32_t h = hi[0];
                int32_t l = lo[0];
                for (int64_t i = 0; i < k * channels; ++i) {
                    h = std::max(h, p[i]);
                    l = std::min(l, p[i]);
                }
                hi[0] = h;
                lo[0] = l;
            } else {
                for (int64_t i = 0; i < k; ++i) {
                    for (int c = 0; c < 2; ++c) {
                        hi[c] = std::max(hi[c], p[2 * i + c]);
                        lo[c] = std::min(lo[c], p[2 * i + c]);
                    }
                }
            }
            f += k;
        }
        if (magnitude) {
            upper[x - c0] = CapByte(std::max(int64_t{hi[0]}, -int64_t{lo[0]}) >> shift);
            lower[x - c0] = upper[x - c0];
        } else if (mode == kCombined) {
            upper[x - c0] = CapByte(int64_t{hi[0]} >> shift);
            lower[x - c0] = CapByte(-int64_t{lo[0]} >> shift);
        } else {
            upper[x - c0] = CapByte(std::max(int64_t{hi[0]}, -int64_t{lo[0]}) >> shift);
            lower[x - c0] = CapByte(std::max(int64_t{hi[1]}, -int64_t{lo[1]}) >> shift);
        }
        if (thread != nullptr && thread->StopRequested()) return x - c0 + 1;
    }
    return c1 - c0 + 1;
}

// ---- View commands

WaveViewRange ClampView(WaveViewRange view, int32_t length) {
    view.start = std::max(view.start, 0);
    view.end = std::min(view.end, length);
    return view;
}

WaveViewRange ZoomInView(WaveViewRange view, int32_t cursor, int32_t length) {
    const int64_t span = std::max<int64_t>((int64_t{view.end} - view.start) / 2, 100);
    const int64_t start = std::max<int64_t>(int64_t{cursor} - span / 2, 0);
    return ClampView({ClampFrame(start), ClampFrame(start + span)}, length);
}

WaveViewRange ZoomOutView(WaveViewRange view, int32_t length) {
    const int64_t span = std::min<int64_t>(2 * (int64_t{view.end} - view.start), length);
    const int64_t start =
        std::max<int64_t>(static_cast<int64_t>(view.start - static_cast<double>(span) * 0.25), 0);
    return ClampView({ClampFrame(start), ClampFrame(start + span)}, length);
}

WaveViewRange RelayoutView(WaveViewRange view, int32_t length, int32_t sampleRate) {
    if (length <= 0) return {0, sampleRate};
    view.end = std::min(view.end, length);
    if (view.start >= length || view.start < 0) view.start = 0;
    // An empty view would leave nothing to draw (and no zoom to draw it
    // with): show the whole document instead.
    if (view.end <= view.start) return {0, length};
    return view;
}

WaveViewRange FollowCursor(WaveViewRange view, int32_t frame) {
    const int64_t span = int64_t{view.end} - view.start;
    if (frame > view.end) return {ClampFrame(frame - span), frame};
    if (frame < view.start) return {frame, ClampFrame(frame + span)};
    return view;
}

int ScrollThumbForFrame(int32_t frame, int32_t length) {
    if (length <= 0) return 0;
    return static_cast<int>(std::clamp<int64_t>(int64_t{frame} * 201 / length, 0, 200));
}

int32_t FrameForScrollThumb(int position, int32_t length) {
    if (length <= 0) return 0;
    const auto frame = static_cast<int64_t>(static_cast<double>(length) * position * 0.005);
    return static_cast<int32_t>(std::clamp<int64_t>(frame, 0, length));
}

// ---- Mouse

namespace {

bool Near(int32_t frame, int32_t edge) {
    const int64_t d = int64_t{frame} - edge;
    return d >= -WaveMouseTracker::kEdgeFrames && d <= WaveMouseTracker::kEdgeFrames;
}

}  // namespace

bool WaveMouseTracker::NearEdge(int32_t frame) const {
    return state_.selectionStart < state_.selectionEnd &&
           (Near(frame, state_.selectionStart) || Near(frame, state_.selectionEnd));
}

std::vector<WaveMouseTracker::Code> WaveMouseTracker::Press(int32_t frame, bool shift, int bookmark) {
    captured_ = true;
    dragScroll_ = 0;
    State& s = state_;
    const bool selection = s.selectionStart < s.selectionEnd;
    if (shift) {
        s.selectionStart = std::min(s.pivot, frame);
        s.selectionEnd = std::max(s.pivot, frame);
    } else if (selection && Near(frame, s.selectionStart)) {
        s.pivot = s.selectionEnd;
        s.cursor = s.selectionStart;
    } else if (selection && Near(frame, s.selectionEnd)) {
        s.pivot = s.selectionStart;
        s.cursor = s.selectionEnd;
    } else if (bookmark >= 0) {
        s.draggedBookmark = bookmark;
    } else {
        s.pivot = frame;
        s.selectionStart = frame;
        s.selectionEnd = frame;
    }
    return {};
}

std::vector<WaveMouseTracker::Code> WaveMouseTracker::Move(int32_t frame, int x, int width, bool shift) {
    std::vector<Code> codes;
    if (!captured_ || state_.draggedBookmark >= 0) return codes;
    const int16_t wanted = x >= width ? kPastRight : x <= 0 ? kPastLeft : 0;
    if (wanted != dragScroll_) {
        // A jump from one edge straight to the other ends the first mode
        // before the second begins, so every 4 or 6 is matched by its 5 or 7.
        if (dragScroll_ == kPastRight) codes.push_back(kBackFromRight);
        if (dragScroll_ == kPastLeft) codes.push_back(kBackFromLeft);
        if (wanted != 0) codes.push_back(static_cast<Code>(wanted));
        dragScroll_ = wanted;
    }
    if (!shift) {
        state_.selectionStart = std::min(state_.pivot, frame);
        state_.selectionEnd = std::max(state_.pivot, frame);
        codes.push_back(kSelectionChanged);
    }
    return codes;
}

std::vector<WaveMouseTracker::Code> WaveMouseTracker::Release(int32_t frame, bool shift) {
    std::vector<Code> codes;
    if (!captured_) return codes;
    captured_ = false;
    if (dragScroll_ == kPastRight) codes.push_back(kBackFromRight);
    if (dragScroll_ == kPastLeft) codes.push_back(kBackFromLeft);
    dragScroll_ = 0;
    if (state_.draggedBookmark >= 0) {
        state_.draggedBookmark = -1;
        return codes;
    }
    if (!shift) {
        state_.selectionStart = std::min(state_.pivot, frame);
        state_.selectionEnd = std::max(state_.pivot, frame);
        state_.cursor = frame;
    }
    codes.push_back(kReleased);
    return codes;
}

}  // namespace sonitor
