#include "shell/RecordWaveWindow.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <array>
#include <utility>

namespace sonitor {

namespace {

const QColor kWave(102, 255, 102);
const QColor kCursor(255, 255, 17);
const QColor kStockGrey(128, 128, 128);

// The cursor's triangles reach this many columns to either side; its line
// keeps this far from the top and bottom edges, where their apexes are.
constexpr int kReach = 4;
constexpr int kInset = 6;

// A line at window x between the apexes of a triangle hanging from the top
// edge and one standing on the bottom edge (height h).
void PaintCursor(QPainter& painter, int x, int h) {
    painter.setPen(kCursor);
    painter.setBrush(kCursor);
    painter.drawLine(x, kInset, x, h - kInset);
    for (const auto& [edge, apex] : {std::pair{1, kInset}, std::pair{h - 1, h - kInset}})
        painter.drawPolygon(QPolygon({QPoint(x - kReach, edge), QPoint(x + kReach, edge), QPoint(x, apex)}));
}

}  // namespace

RecordWaveWindow::RecordWaveWindow(QWidget* parent) : QWidget(parent) {
    setObjectName("LWaveWindow");
    setProperty("ctrlId", 105);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Called on the picture's worker thread, which must not wait for this
    // one: it only posts.
    picture_.SetColumnsReady([this](int c0, int c1, int scrolled) {
        QMetaObject::invokeMethod(
            this,
            [this, c0, c1, scrolled] {
                // After a scroll the cached bytes moved under every column.
                if (scrolled != 0) {
                    update();
                } else {
                    InvalidateColumns(c0, c1);
                }
            },
            Qt::QueuedConnection);
    });
    setEnabled(false);
}

RecordWaveWindow::~RecordWaveWindow() {
    // Clearing the callback waits for a call in progress; what it already
    // posted dies with this window.
    picture_.SetColumnsReady(nullptr);
    picture_.Detach();
}

// No repaint of their own: the worker's first pass over a new attachment
// reports every column, and a change of the enabled state repaints.
void RecordWaveWindow::Attach(Ref<AudioSource> source, int32_t sampleRate, int channels) {
    picture_.Resize(width(), height());
    picture_.Attach(std::move(source), sampleRate, channels);
    setEnabled(true);
}

void RecordWaveWindow::Detach() {
    picture_.Detach();
    setEnabled(false);
}

void RecordWaveWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) update();
    QWidget::changeEvent(event);
}

void RecordWaveWindow::InvalidateColumns(int c0, int c1) {
    const auto [a, b] = std::minmax(c0, c1);
    // Column c is drawn at window x = c + 1.
    const int left = a + 1 - kReach;
    update(QRect(left, 1, b + 1 + kReach - left + 1, std::max(picture_.Height(), 1)));
}

void RecordWaveWindow::SetCursor(int32_t frame) {
    const int before = picture_.PixelOfFrame(cursor_);
    cursor_ = frame;
    InvalidateColumns(before, picture_.PixelOfFrame(frame));
}

bool RecordWaveWindow::WaitIdle(int timeoutMs) const {
    return picture_.WaitIdle(timeoutMs);
}

uint8_t RecordWaveWindow::ColumnValue(int x) const {
    if (x < 0 || x >= WavePicture::kMaxColumns) return 0;
    std::array<uint8_t, WavePicture::kMaxColumns> magnitude{};
    std::array<uint8_t, WavePicture::kMaxColumns> mirror{};
    picture_.CopyColumns(magnitude.data(), mirror.data(), x + 1);
    return magnitude[static_cast<size_t>(x)];
}

void RecordWaveWindow::resizeEvent(QResizeEvent* event) {
    picture_.Resize(width(), height());
    update();
    QWidget::resizeEvent(event);
}

void RecordWaveWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const int32_t frame = picture_.FrameAtColumn(static_cast<int>(event->position().x()) - 1);
    SetCursor(std::clamp(frame, 0, std::max(picture_.Length(), 0)));
    emit Notification(2);
}

void RecordWaveWindow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect dirty = event->rect();
    const int w = picture_.Width();
    const int h = picture_.Height();
    const QColor buttonFace = palette().color(QPalette::Button);
    // A window wider than the picture's 2048 columns shows nothing there.
    if (width() > w + 2) painter.fillRect(QRect(w + 2, 0, width() - w - 2, height()), buttonFace);

    if (!isEnabled() || !picture_.Attached()) {
        painter.fillRect(QRect(1, 1, w, h - 1) & dirty, kStockGrey);
    } else {
        std::array<uint8_t, WavePicture::kMaxColumns> magnitude{};
        std::array<uint8_t, WavePicture::kMaxColumns> mirror{};
        picture_.CopyColumns(magnitude.data(), mirror.data(), w);
        // Columns from here on lie past the recording (all of them while the
        // view is empty: the pixel is then -1).
        const int end = picture_.PixelOfFrame(picture_.Length());
        const int centre = h / 2;
        for (int c = std::max(dirty.left() - 1, 0); c <= std::min(dirty.right() - 1, w - 1); ++c) {
            if (c >= end) {
                painter.fillRect(c + 1, 1, 1, h - 1, buttonFace);
                continue;
            }
            painter.fillRect(c + 1, 1, 1, h - 1, Qt::black);
            const int extent = magnitude[static_cast<size_t>(c)] * h / 512;
            const int top = std::max(centre - extent, 1);
            painter.fillRect(c + 1, top, 1, std::min(centre + extent + 1, h) - top, kWave);
        }
        const int cursor = picture_.PixelOfFrame(cursor_);
        if (cursor >= 0) PaintCursor(painter, std::min(cursor, w - 1) + 1, h);
    }
    // Sunken: light along the bottom and right, dark along the top and left
    // (the dark edges win the corners they share).
    painter.setPen(Qt::white);
    painter.drawPolyline(QPolygon({QPoint(0, h), QPoint(w + 1, h), QPoint(w + 1, 0)}));
    painter.setPen(Qt::black);
    painter.drawPolyline(QPolygon({QPoint(0, h), QPoint(0, 0), QPoint(w + 1, 0)}));
}

}  // namespace sonitor
