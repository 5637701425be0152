#include "shell/WaveWindow.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <array>
#include <cstdlib>

#include "document/SoundDocument.h"
#include "foundation/Numbers.h"

namespace sonitor {

namespace {

const QColor kWave(102, 255, 102);
const QColor kSelectionBack(5, 95, 167);
const QColor kBandLight(255, 255, 189);
const QColor kBandDark(0, 128, 0);
const QColor kCursor(255, 255, 17);
const QColor kBookmark(0, 191, 255);
// The stock grey brush of a window without a document.
const QColor kStockGrey(128, 128, 128);

// Columns around a mark that its triangles reach into.
constexpr int kMarkReach = 4;
// The mark's line keeps this far from the top and bottom edges.
constexpr int kMarkInset = 6;
// Bookmarks are grabbed in this many pixels above the bottom edge.
constexpr int kBookmarkGrip = 6;

struct ColourPair {
    QColor back;
    QColor wave;
};

// One column's background and waveform spans for a strip centred at
// `centre`, extending `up` above it and `down` below it.
void PaintStripColumn(QPainter& painter, int x, int top, int bottom, int centre, int up, int down,
                      const ColourPair& colours) {
    const int waveTop = std::clamp(centre - up, top, bottom);
    const int waveEnd = std::clamp(centre + down + 1, waveTop, bottom);
    if (waveTop > top) painter.fillRect(x, top, 1, waveTop - top, colours.back);
    if (waveEnd > waveTop) painter.fillRect(x, waveTop, 1, waveEnd - waveTop, colours.wave);
    if (bottom > waveEnd) painter.fillRect(x, waveEnd, 1, bottom - waveEnd, colours.back);
}

}  // namespace

WaveWindow::WaveWindow(int controlId, QWidget* parent) : QWidget(parent) {
    setObjectName("LSNWaveWindow");
    setProperty("ctrlId", controlId);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    // The worker's callbacks run on its own thread and must not wait for
    // this one: they only post.
    picture_.SetColumnsReady([this](int c0, int c1, int scrolled) {
        QMetaObject::invokeMethod(
            this, [this, c0, c1, scrolled] { OnColumnsReady(c0, c1, scrolled); }, Qt::QueuedConnection);
    });
    picture_.SetDragEdgeMoved([this](WavePicture::DragScroll mode, int32_t frame) {
        QMetaObject::invokeMethod(
            this, [this, mode, frame] { OnDragEdgeMoved(mode, frame); }, Qt::QueuedConnection);
    });
    // Created grey until a document is attached.
    setEnabled(false);
}

WaveWindow::~WaveWindow() {
    // Clearing the callbacks waits for one in progress; after that nothing
    // posts to this window, and what was posted dies with it.
    picture_.SetColumnsReady(nullptr);
    picture_.SetDragEdgeMoved(nullptr);
    picture_.Detach();
}

void WaveWindow::Attach(const SoundDocument& document, int32_t mode, bool verticalZoom) {
    picture_.Resize(width(), height());
    picture_.Attach(document, mode, verticalZoom);
    setEnabled(true);
    update();
}

void WaveWindow::Detach() {
    picture_.Detach();
    setEnabled(false);
    update();
}

void WaveWindow::SetView(int32_t start, int32_t span) {
    picture_.SetView(start, span);
}

void WaveWindow::InvalidateColumns(int c0, int c1) {
    if (c0 > c1) std::swap(c0, c1);
    const int left = c0 - kMarkReach + 1;
    const int right = c1 + kMarkReach + 1;
    update(QRect(left, 1, right - left + 1, std::max(picture_.Height(), 1)));
}

void WaveWindow::InvalidateFrames(int32_t a, int32_t b) {
    InvalidateColumns(picture_.PixelOfFrame(a), picture_.PixelOfFrame(b));
}

void WaveWindow::SetCursorBand(int32_t start, int32_t length) {
    InvalidateFrames(bandStart_, bandStart_ + bandLength_);
    bandStart_ = start;
    bandLength_ = length;
    mouse_.Current().cursor = start;
    InvalidateFrames(bandStart_, bandStart_ + bandLength_);
}

void WaveWindow::SetLength(int32_t frames) {
    InvalidateFrames(length_, frames);
    length_ = frames;
}

void WaveWindow::SetSelectionStart(int32_t frame) {
    int32_t& edge = mouse_.Current().selectionStart;
    InvalidateFrames(edge, frame);
    edge = frame;
}

void WaveWindow::SetSelectionEnd(int32_t frame) {
    int32_t& edge = mouse_.Current().selectionEnd;
    InvalidateFrames(edge, frame);
    edge = frame;
}

int32_t WaveWindow::SelectionStart() const {
    return mouse_.Current().selectionStart;
}
int32_t WaveWindow::SelectionEnd() const {
    return mouse_.Current().selectionEnd;
}

void WaveWindow::SetBookmarks(std::vector<WaveBookmark>* bookmarks) {
    bookmarks_ = bookmarks != nullptr && !bookmarks->empty() ? bookmarks : nullptr;
    update();
}

int32_t WaveWindow::BookmarkFrame(const WaveBookmark& bookmark) const {
    return FramesFromMilliseconds(bookmark.milliseconds, picture_.SampleRate());
}

int WaveWindow::BookmarkAt(int x, int y) const {
    if (bookmarks_ == nullptr) return -1;
    const int h = picture_.Height();
    if (y < h - kBookmarkGrip || y > h) return -1;
    const int column = ColumnOf(x);
    for (size_t i = 0; i < bookmarks_->size(); ++i) {
        const int pixel = picture_.PixelOfFrame(BookmarkFrame((*bookmarks_)[i]));
        // Only a bookmark that is drawn can be grabbed: the mapping reports
        // those before or after the view at -1 and at the width.
        if (pixel < 0 || pixel >= picture_.Width()) continue;
        if (std::abs(pixel - column) <= kMarkReach) return static_cast<int>(i);
    }
    return -1;
}

void WaveWindow::MoveBookmark(int index, int32_t frame) {
    if (bookmarks_ == nullptr || index < 0 || index >= static_cast<int>(bookmarks_->size())) return;
    WaveBookmark& bookmark = (*bookmarks_)[static_cast<size_t>(index)];
    const int32_t before = BookmarkFrame(bookmark);
    bookmark.milliseconds = MillisecondsFromFrames(frame, picture_.SampleRate());
    InvalidateFrame(before);
    InvalidateFrame(frame);
}

void WaveWindow::InvalidateFrame(int32_t frame) {
    InvalidateFrames(frame, frame);
}

void WaveWindow::OnColumnsReady(int c0, int c1, int scrolled) {
    // The cache moved under the whole picture: repaint all of it rather than
    // scroll the window's pixels, which a paint in between may already show
    // in the new place.
    if (scrolled != 0) {
        update();
    } else {
        InvalidateColumns(c0, c1);
    }
}

void WaveWindow::OnDragEdgeMoved(WavePicture::DragScroll mode, int32_t frame) {
    // Posted by the worker; the drag may have ended meanwhile.
    if (!mouse_.Captured() || mouse_.DragScroll() != mode) return;
    WaveMouseTracker::State& state = mouse_.Current();
    const WaveMouseTracker::State before = state;
    state.selectionStart = std::min(state.pivot, frame);
    state.selectionEnd = std::max(state.pivot, frame);
    Follow(before, {WaveMouseTracker::kSelectionChanged});
}

int32_t WaveWindow::FrameAtX(int x) const {
    return picture_.FrameAtColumn(ColumnOf(x));
}

void WaveWindow::Post(const std::vector<WaveMouseTracker::Code>& codes) {
    for (WaveMouseTracker::Code code : codes)
        emit Notification(static_cast<int>(code));
}

void WaveWindow::Follow(const WaveMouseTracker::State& before,
                        const std::vector<WaveMouseTracker::Code>& codes) {
    const WaveMouseTracker::State& now = mouse_.Current();
    if (now.selectionStart != before.selectionStart)
        InvalidateFrames(before.selectionStart, now.selectionStart);
    if (now.selectionEnd != before.selectionEnd) InvalidateFrames(before.selectionEnd, now.selectionEnd);
    picture_.SetDragScroll(static_cast<WavePicture::DragScroll>(mouse_.DragScroll()));
    Post(codes);
}

void WaveWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    const WaveMouseTracker::State before = mouse_.Current();
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    const std::vector<WaveMouseTracker::Code> codes =
        mouse_.Press(FrameAtX(at.x()), shift, BookmarkAt(at.x(), at.y()));
    // Grabbing a selection edge moves the cursor onto it.
    if (mouse_.Current().cursor != before.cursor) SetCursorBand(mouse_.Current().cursor, 0);
    Follow(before, codes);
}

void WaveWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (!mouse_.Captured()) {
        const int bookmark = BookmarkAt(at.x(), at.y());
        if (bookmark >= 0) {
            setCursor(Qt::PointingHandCursor);
            overBookmark_ = true;
            emit BookmarkHover(bookmark, at);
            return;
        }
        if (overBookmark_) {
            overBookmark_ = false;
            emit BookmarkHoverEnd();
        }
        setCursor(mouse_.NearEdge(FrameAtX(at.x())) ? Qt::SizeHorCursor : Qt::ArrowCursor);
        return;
    }
    const int dragged = mouse_.Current().draggedBookmark;
    if (dragged >= 0) {
        MoveBookmark(dragged, std::clamp(FrameAtX(at.x()), 0, std::max(length_, 0)));
        emit BookmarkHover(dragged, at);
        return;
    }
    const WaveMouseTracker::State before = mouse_.Current();
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    Follow(before, mouse_.Move(FrameAtX(at.x()), ColumnOf(at.x()), picture_.Width(), shift));
}

void WaveWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !mouse_.Captured()) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    const WaveMouseTracker::State before = mouse_.Current();
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    const std::vector<WaveMouseTracker::Code> codes = mouse_.Release(FrameAtX(at.x()), shift);
    setCursor(Qt::ArrowCursor);
    const bool released = std::find(codes.begin(), codes.end(), WaveMouseTracker::kReleased) != codes.end();
    if (released && !shift) SetCursorBand(mouse_.Current().cursor, 0);
    Follow(before, codes);
}

void WaveWindow::leaveEvent(QEvent* event) {
    // The owner's bookmark tip would otherwise stay up after the pointer left.
    if (overBookmark_ && !mouse_.Captured()) {
        overBookmark_ = false;
        emit BookmarkHoverEnd();
    }
    QWidget::leaveEvent(event);
}

void WaveWindow::resizeEvent(QResizeEvent* event) {
    picture_.Resize(width(), height());
    update();
    QWidget::resizeEvent(event);
}

void WaveWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) update();
    QWidget::changeEvent(event);
}

void WaveWindow::PaintCursorMark(QPainter& painter, int x, const QColor& colour, bool dotted) const {
    const int h = picture_.Height();
    painter.setPen(QPen(colour, 1, dotted ? Qt::DotLine : Qt::SolidLine));
    painter.drawLine(x, kMarkInset, x, h - kMarkInset);
    painter.setPen(colour);
    painter.setBrush(colour);
    painter.drawPolygon(
        QPolygon({QPoint(x - kMarkReach, 1), QPoint(x + kMarkReach, 1), QPoint(x, kMarkInset)}));
    painter.drawPolygon(
        QPolygon({QPoint(x - kMarkReach, h - 1), QPoint(x + kMarkReach, h - 1), QPoint(x, h - kMarkInset)}));
    painter.setBrush(Qt::NoBrush);
}

void WaveWindow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect dirty = event->rect();
    const int w = picture_.Width();
    const int h = picture_.Height();
    const QColor grayText = palette().color(QPalette::Disabled, QPalette::Text);
    const QColor buttonFace = palette().color(QPalette::Button);

    // Past 2048 columns (a window wider than 2050 pixels) nothing is drawn.
    if (width() > w + 2) painter.fillRect(QRect(w + 2, 0, width() - w - 2, height()), buttonFace);

    const int first = std::max(ColumnOf(dirty.left()), 0);
    const int last = std::min(ColumnOf(dirty.right()), w - 1);
    if (!isEnabled() || !picture_.Attached()) {
        painter.fillRect(QRect(1, 1, w, h - 1) & dirty, kStockGrey);
    } else if (first <= last) {
        std::array<uint8_t, WavePicture::kMaxColumns> upper{};
        std::array<uint8_t, WavePicture::kMaxColumns> lower{};
        picture_.CopyColumns(upper.data(), lower.data(), w);

        int cursor = picture_.PixelOfFrame(bandStart_);
        if (cursor == w) cursor = w - 1;
        const int bandStart = picture_.PixelOfFrame(bandStart_);
        const int bandEnd = picture_.PixelOfFrame(bandStart_ + bandLength_);
        const int selectionStart = picture_.PixelOfFrame(mouse_.Current().selectionStart);
        const int selectionEnd = picture_.PixelOfFrame(mouse_.Current().selectionEnd);
        const int zero = picture_.PixelOfFrame(0);
        const int end = picture_.PixelOfFrame(length_);
        const bool dual = picture_.EffectiveMode() == WavePicture::kDual;
        const int scale = dual ? h / 2 : h;

        const ColourPair outside{buttonFace, grayText};
        const ColourPair normal{Qt::black, kWave};
        const ColourPair selected{kSelectionBack, Qt::white};
        const ColourPair bandOnly{kBandLight, kBandDark};
        const ColourPair bandSelected{kBandDark, kBandLight};

        for (int c = first; c <= last; ++c) {
            // A start pixel of -1 lies before the view, so every column is
            // past it; an end pixel of -1 lies before the view as well.
            const bool inSelection = c >= selectionStart && c < selectionEnd;
            const bool inBand = bandLength_ > 0 && c >= bandStart && c < bandEnd;
            const ColourPair& colours = c < zero || c >= end ? outside
                                        : inBand             ? (inSelection ? bandSelected : bandOnly)
                                        : inSelection        ? selected
                                                             : normal;
            const int up = upper[static_cast<size_t>(c)] * scale / 512;
            const int down = lower[static_cast<size_t>(c)] * scale / 512;
            const int x = c + 1;
            if (dual) {
                const int split = h / 2;
                PaintStripColumn(painter, x, 1, split, h / 2 - h / 4, up, up, colours);
                PaintStripColumn(painter, x, split, h, h / 2 + h / 4, down, down, colours);
            } else {
                PaintStripColumn(painter, x, 1, h, h / 2, up, down, colours);
            }
        }
        if (dual) {
            painter.setPen(grayText);
            painter.drawLine(first + 1, h / 2, last + 1, h / 2);
        }
        if (bookmarks_ != nullptr) {
            for (const WaveBookmark& bookmark : *bookmarks_) {
                const int pixel = picture_.PixelOfFrame(BookmarkFrame(bookmark));
                if (pixel >= 0 && pixel < w) PaintCursorMark(painter, pixel + 1, kBookmark, true);
            }
        }
        if (cursor >= 0) PaintCursorMark(painter, cursor + 1, kCursor, false);
    }

    // The border: dark at the top and left, light at the bottom and right.
    painter.setPen(Qt::white);
    painter.drawLine(0, h, w + 1, h);
    painter.drawLine(w + 1, 0, w + 1, h);
    painter.setPen(Qt::black);
    painter.drawLine(0, 0, w + 1, 0);
    painter.drawLine(0, 0, 0, h);
}

}  // namespace sonitor
