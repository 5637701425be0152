#include "shell/RecordWaveWindow.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include "foundation/ManualResetEvent.h"
#include "foundation/WorkerThread.h"

namespace sonitor {

namespace {

constexpr int kMaxColumns = 2048;
constexpr int32_t kReadFrames = 8192;
constexpr int kStopTimeoutMs = 5000;
constexpr int kIdleWaitMs = 60 * 60 * 1000;
// One byte per column: the largest magnitude shifted by this, capped at 255.
constexpr int kByteShift = 10;

const QColor kWave(102, 255, 102);
const QColor kCursor(255, 255, 17);
const QColor kStockGrey(128, 128, 128);

int32_t ClampFrame(int64_t v) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// The view of the recording on the window's columns, truncating toward zero
// like the document's wave window.
struct Mapping {
    int32_t start = 0;
    int32_t span = 0;
    double zoom = 0.0;
    int64_t offset = 0;
    int width = 1;

    void Recompute() {
        zoom = span >= 1 ? static_cast<double>(std::max(width, 8)) / span : 0.0;
        offset = static_cast<int64_t>(zoom * start);
    }
    int64_t FrameAt(int x) const { return zoom > 0.0 ? static_cast<int64_t>((offset + x) / zoom) : 0; }
    int64_t RawPixel(int64_t frame) const { return static_cast<int64_t>(frame * zoom) - offset; }
    int Pixel(int64_t frame) const {
        if (span < 1) return -1;
        const int64_t p = RawPixel(frame);
        return p < 0 ? -1 : p > width ? width : static_cast<int>(p);
    }
};

}  // namespace

class RecordWaveWindow::Impl {
public:
    explicit Impl(RecordWaveWindow& window) : window_(window), worker_(std::make_unique<Worker>(*this)) {}
    ~Impl() { StopWorker(); }

    void Attach(Ref<AudioSource> source) {
        StopWorker();
        source_ = std::move(source);
        {
            std::lock_guard<std::mutex> lock(requestLock_);
            reset_ = true;
            idle_.Reset();
        }
        attached_ = true;
        wake_.Set();
        worker_->Start(ThreadPriority::BelowNormal);
    }

    void Detach() {
        StopWorker();
        source_.Reset();
        attached_ = false;
    }

    void Request(int32_t start, int32_t span, bool reset) {
        {
            std::lock_guard<std::mutex> lock(requestLock_);
            if (!reset) {
                requestedStart_ = start;
                requestedSpan_ = span;
            }
            reset_ = reset_ || reset;
            idle_.Reset();
        }
        wake_.Set();
    }

    void Resize(int clientWidth, int clientHeight) {
        {
            std::lock_guard<std::mutex> lock(cacheLock_);
            mapping_.width = std::clamp(clientWidth - 2, 1, kMaxColumns);
            height_ = std::max(clientHeight - 1, 1);
            mapping_.Recompute();
        }
        Request(0, 0, true);
    }

    // A consistent copy for painting.
    struct Snapshot {
        Mapping mapping;
        int height = 1;
        int64_t length = 0;
        std::array<uint8_t, kMaxColumns + 2> bytes{};
    };
    void Copy(Snapshot& out) const {
        std::lock_guard<std::mutex> lock(cacheLock_);
        out.mapping = mapping_;
        out.height = height_;
        out.length = length_;
        out.bytes = bytes_;
    }
    int32_t FrameAtColumn(int x) const {
        std::lock_guard<std::mutex> lock(cacheLock_);
        return ClampFrame(mapping_.FrameAt(x));
    }
    int PixelOfFrame(int32_t frame) const {
        std::lock_guard<std::mutex> lock(cacheLock_);
        return mapping_.Pixel(frame);
    }
    int64_t Length() const {
        std::lock_guard<std::mutex> lock(cacheLock_);
        return length_;
    }
    uint8_t Column(int x) const {
        std::lock_guard<std::mutex> lock(cacheLock_);
        return x >= 0 && x < kMaxColumns ? bytes_[static_cast<size_t>(x)] : 0;
    }
    bool WaitIdle(int timeoutMs) const { return !attached_ || idle_.WaitFor(timeoutMs); }
    bool Attached() const { return attached_; }

    int32_t cursor = 0;

private:
    class Worker final : public WorkerThread {
    public:
        explicit Worker(Impl& owner) : owner_(owner) {}
        ~Worker() override { Stop(kStopTimeoutMs); }

    protected:
        void Run() override { owner_.Loop(*this); }

    private:
        Impl& owner_;
    };

    void StopWorker() {
        // The source must not change under a worker that is still reading.
        if (!worker_->Stop(kStopTimeoutMs)) worker_ = std::make_unique<Worker>(*this);
    }

    void Loop(const WorkerThread& thread) {
        bool computed = false;
        int32_t doneStart = 0;
        int32_t doneSpan = 0;
        while (!thread.StopRequested()) {
            int32_t start = 0;
            int32_t span = 0;
            bool idle = false;
            {
                std::lock_guard<std::mutex> lock(requestLock_);
                start = requestedStart_;
                span = requestedSpan_;
                if (reset_) {
                    reset_ = false;
                    computed = false;
                }
                if (computed && start == doneStart && span == doneSpan) {
                    wake_.Reset();
                    idle_.Set();
                    idle = true;
                }
            }
            if (idle) {
                thread.WaitForEventOrStop(wake_, kIdleWaitMs);
                continue;
            }
            int c0 = 0;
            int c1 = -1;
            Mapping mapping;
            {
                std::lock_guard<std::mutex> lock(cacheLock_);
                Apply(start, span, !computed, c0, c1);
                // A recording grows while it is shown: each pass looks again.
                length_ = source_ ? source_->Length() : 0;
                mapping = mapping_;
            }
            if (c0 <= c1) {
                if (!Compute(mapping, c0, c1, thread)) return;
                QMetaObject::invokeMethod(
                    &window_, [w = &window_] { w->update(); }, Qt::QueuedConnection);
            }
            computed = true;
            doneStart = start;
            doneSpan = span;
        }
    }

    // Under the cache lock: the columns a request needs. A pure scroll keeps
    // the bytes that stay in view.
    void Apply(int32_t start, int32_t span, bool everything, int& c0, int& c1) {
        const int w = mapping_.width;
        c0 = 0;
        c1 = w;
        if (!everything && span == mapping_.span) {
            const int64_t shift = -mapping_.RawPixel(start);
            mapping_.start = start;
            mapping_.Recompute();
            if (shift == 0) {
                c1 = -1;
            } else if (std::abs(shift) < w) {
                const int s = static_cast<int>(shift);
                const auto kept = static_cast<size_t>(w + 1 - std::abs(s));
                if (s < 0) {
                    std::memmove(bytes_.data(), bytes_.data() - s, kept);
                    c0 = w - 1 + s;
                } else {
                    std::memmove(bytes_.data() + s, bytes_.data(), kept);
                    c1 = s + 1;
                }
            }
        } else {
            mapping_.start = start;
            mapping_.span = span;
            mapping_.Recompute();
        }
        c0 = std::clamp(c0, 0, w);
        c1 = std::min(c1, w);
    }

    bool Compute(const Mapping& mapping, int c0, int c1, const WorkerThread& thread) {
        std::array<uint8_t, kMaxColumns + 2> out{};
        const int64_t length = source_ ? source_->Length() : 0;
        if (source_ && mapping.span >= 1 && length > 0) {
            AudioSource& source = *source_;
            const int channels = source.Channels();
            buffer_.resize(static_cast<size_t>(kReadFrames) * static_cast<size_t>(channels));
            for (int x = c0; x <= c1; ++x) {
                const int64_t a = std::max<int64_t>(mapping.FrameAt(x), 0);
                // Zoomed in past a frame per column, a column shows its frame.
                const int64_t b = std::min(std::max(mapping.FrameAt(x + 1), a + 1), length);
                int64_t peak = 0;
                for (int64_t f = a; f < b;) {
                    const auto n = static_cast<int32_t>(std::min<int64_t>(kReadFrames, b - f));
                    if (source.Position() != f) source.Seek(static_cast<int32_t>(f));
                    source.Read(buffer_.data(), n);
                    for (int64_t i = 0; i < int64_t{n} * channels; ++i) {
                        const int64_t v = buffer_[static_cast<size_t>(i)];
                        peak = std::max(peak, v < 0 ? -v : v);
                    }
                    f += n;
                }
                out[static_cast<size_t>(x - c0)] =
                    static_cast<uint8_t>(std::min<int64_t>(peak >> kByteShift, 255));
                if (thread.StopRequested()) return false;
            }
        }
        std::lock_guard<std::mutex> lock(cacheLock_);
        std::memcpy(bytes_.data() + c0, out.data(), static_cast<size_t>(c1 - c0 + 1));
        return true;
    }

    RecordWaveWindow& window_;
    mutable std::mutex requestLock_;
    mutable std::mutex cacheLock_;
    ManualResetEvent wake_;
    mutable ManualResetEvent idle_{true};
    int32_t requestedStart_ = 0;
    int32_t requestedSpan_ = 0;
    bool reset_ = true;
    Mapping mapping_;
    int height_ = 1;
    int64_t length_ = 0;
    std::array<uint8_t, kMaxColumns + 2> bytes_{};
    Ref<AudioSource> source_;
    std::vector<int32_t> buffer_;
    bool attached_ = false;
    std::unique_ptr<Worker> worker_;
};

RecordWaveWindow::RecordWaveWindow(QWidget* parent) : QWidget(parent), impl_(std::make_unique<Impl>(*this)) {
    setObjectName("LWaveWindow");
    setProperty("ctrlId", 105);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setEnabled(false);
}

RecordWaveWindow::~RecordWaveWindow() {
    // Stopped first: nothing posts to this window afterwards.
    impl_->Detach();
}

void RecordWaveWindow::Attach(Ref<AudioSource> source, int32_t sampleRate, int channels) {
    sampleRate_ = sampleRate > 0 ? sampleRate : 44100;
    channels_ = std::max(channels, 1);
    impl_->Resize(width(), height());
    impl_->Attach(std::move(source));
    setEnabled(true);
    update();
}

void RecordWaveWindow::Detach() {
    impl_->Detach();
    setEnabled(false);
    update();
}

void RecordWaveWindow::SetView(int32_t start, int32_t span) {
    impl_->Request(start, span, false);
}

void RecordWaveWindow::SetCursor(int32_t frame) {
    const int before = impl_->PixelOfFrame(impl_->cursor);
    impl_->cursor = frame;
    const int after = impl_->PixelOfFrame(frame);
    const int left = std::min(before, after) - 4 + 1;
    const int right = std::max(before, after) + 4 + 1;
    update(QRect(left, 0, right - left + 1, height()));
}

int32_t RecordWaveWindow::Cursor() const {
    return impl_->cursor;
}

bool RecordWaveWindow::WaitIdle(int timeoutMs) const {
    return impl_->WaitIdle(timeoutMs);
}

uint8_t RecordWaveWindow::ColumnValue(int x) const {
    return impl_->Column(x);
}

void RecordWaveWindow::resizeEvent(QResizeEvent* event) {
    impl_->Resize(width(), height());
    update();
    QWidget::resizeEvent(event);
}

void RecordWaveWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const int32_t frame = impl_->FrameAtColumn(static_cast<int>(event->position().x()) - 1);
    SetCursor(static_cast<int32_t>(std::clamp<int64_t>(frame, 0, std::max<int64_t>(impl_->Length(), 0))));
    emit Notification(2);
}

void RecordWaveWindow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    Impl::Snapshot picture;
    impl_->Copy(picture);
    const int w = picture.mapping.width;
    const int h = picture.height;
    const QColor buttonFace = palette().color(QPalette::Button);
    if (width() > w + 2) painter.fillRect(QRect(w + 2, 0, width() - w - 2, height()), buttonFace);

    if (!isEnabled() || !impl_->Attached()) {
        painter.fillRect(QRect(1, 1, w, h - 1) & event->rect(), kStockGrey);
    } else {
        const int end = picture.mapping.Pixel(picture.length);
        const int first = std::max(event->rect().left() - 1, 0);
        const int last = std::min(event->rect().right() - 1, w - 1);
        const int centre = h / 2;
        for (int c = first; c <= last; ++c) {
            const bool outside = c >= end;
            const QColor back = outside ? buttonFace : QColor(Qt::black);
            painter.fillRect(c + 1, 1, 1, h - 1, back);
            if (outside) continue;
            const int extent = picture.bytes[static_cast<size_t>(c)] * h / 512;
            const int top = std::max(centre - extent, 1);
            const int bottom = std::min(centre + extent + 1, h);
            painter.fillRect(c + 1, top, 1, bottom - top, kWave);
        }
        int cursor = picture.mapping.Pixel(impl_->cursor);
        if (cursor == w) cursor = w - 1;
        if (cursor >= 0) {
            const int x = cursor + 1;
            painter.setPen(kCursor);
            painter.drawLine(x, 6, x, h - 6);
            painter.setBrush(kCursor);
            painter.drawPolygon(QPolygon({QPoint(x - 4, 1), QPoint(x + 4, 1), QPoint(x, 6)}));
            painter.drawPolygon(QPolygon({QPoint(x - 4, h - 1), QPoint(x + 4, h - 1), QPoint(x, h - 6)}));
        }
    }
    painter.setPen(Qt::white);
    painter.drawLine(0, h, w + 1, h);
    painter.drawLine(w + 1, 0, w + 1, h);
    painter.setPen(Qt::black);
    painter.drawLine(0, 0, w + 1, 0);
    painter.drawLine(0, 0, 0, h);
}

}  // namespace sonitor
