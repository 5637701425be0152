#include "shell/WaveView.h"

#include <QHBoxLayout>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "document/SoundDocument.h"
#include "foundation/Numbers.h"

namespace sonitor {

namespace {

constexpr int kOverviewHeight = 48;
// While scrubbing the main window tints what the scrub loop plays.
constexpr int kScrubBandMs = 25;
// Line and page steps of the scroll bar move the cursor this far.
constexpr int64_t kScrollStepSeconds = 2;

const char* const kModeTooltips[3] = {
    "Wave display + up / - down",
    "Wave display left channel up / right channel down.",
    "Wave display dual left and right channels",
};
const char* const kModeTexts[3] = {"+/-", "L/R", "L|R"};
const int kModeIds[3] = {88, 89, 91};

int32_t RateOf(const SoundDocument& document) {
    const uint32_t rate = document.clip.SampleRate();
    return rate == 0 ? 44100 : static_cast<int32_t>(rate);
}

int32_t Limit(int64_t frame, int32_t length) {
    return static_cast<int32_t>(std::clamp<int64_t>(frame, 0, std::max(length, 0)));
}

}  // namespace

WaveView::WaveView(SoundDocument& document, QWidget* parent) : QWidget(parent), document_(document) {
    overview_ = new WaveWindow(80, this);
    overview_->setFixedHeight(kOverviewHeight);
    main_ = new WaveWindow(81, this);
    main_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    scroll_ = new QScrollBar(Qt::Horizontal, this);
    scroll_->setProperty("ctrlId", 82);
    scroll_->setRange(0, 200);
    scroll_->setPageStep(10);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    bar->setSpacing(1);
    buttonBar_ = bar;
    connect(AddButton(83, "-", "Zoom Out (Ctrl+Minus)"), &QToolButton::clicked, this, [this] { ZoomOut(); });
    connect(AddButton(84, "+", "Zoom In (Ctrl+Plus)"), &QToolButton::clicked, this, [this] { ZoomIn(); });
    connect(AddButton(85, "Sel", "Zoom Selection (Ctrl+Shift+S)"), &QToolButton::clicked, this,
            [this] { ZoomToSelection(); });
    connect(AddButton(86, "Full", "Zoom Full (Ctrl+Shift+F)"), &QToolButton::clicked, this,
            [this] { ZoomFull(); });
    verticalButton_ = AddButton(87, "V", "Vertical Zoom (Ctrl+Shift+V)");
    verticalButton_->setCheckable(true);
    connect(verticalButton_, &QToolButton::clicked, this, [this] { ToggleVerticalZoom(); });
    for (int m = 0; m < 3; ++m) {
        modeButtons_[m] = AddButton(kModeIds[m], kModeTexts[m], kModeTooltips[m]);
        modeButtons_[m]->setCheckable(true);
        connect(modeButtons_[m], &QToolButton::clicked, this, [this, m] { SetDisplayMode(m); });
    }
    bar->addWidget(scroll_, 1);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(overview_);
    column->addWidget(main_, 1);
    column->addLayout(bar);

    for (WaveWindow* window : {overview_, main_}) {
        connect(window, &WaveWindow::Notification, this,
                [this, window](int code) { OnWindowNotification(window, code); });
    }
    connect(scroll_, &QScrollBar::actionTriggered, this, [this](int action) { OnScrollAction(action); });
    UpdateModeButtons();
}

WaveView::~WaveView() = default;

QToolButton* WaveView::AddButton(int controlId, const QString& text, const QString& tooltip) {
    auto* button = new QToolButton(this);
    button->setProperty("ctrlId", controlId);
    button->setText(text);
    button->setToolTip(tooltip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    buttonBar_->addWidget(button);
    return button;
}

WaveViewRange WaveView::View() const {
    return {document_.viewStart, document_.viewEnd};
}

void WaveView::SetView(WaveViewRange view) {
    const WaveViewRange v = ClampView(view, document_.Length());
    // Nothing to show (a view wholly past the end): keep the one there is.
    if (v.end <= v.start) return;
    document_.viewStart = v.start;
    document_.viewEnd = v.end;
    main_->SetView(v.start, v.end - v.start);
}

void WaveView::Relayout() {
    const int32_t length = document_.Length();
    const int32_t rate = RateOf(document_);
    overview_->SetLength(length);
    main_->SetLength(length);
    overview_->Attach(document_, WavePicture::kCombined, false);
    main_->Attach(document_, document_.displayMode, document_.verticalZoom);
    // An empty document shows one second, all of it outside the sound.
    overview_->SetView(0, length > 0 ? length : rate);
    const WaveViewRange view = RelayoutView(View(), length, rate);
    document_.viewStart = view.start;
    document_.viewEnd = view.end;
    for (WaveWindow* window : {overview_, main_}) {
        window->SetBookmarks(&bookmarks_);
        window->SetSelectionStart(document_.selectionStart);
        window->SetSelectionEnd(document_.selectionEnd);
    }
    // The windows were attached afresh: show the document's cursor in both.
    overview_->SetCursorBand(document_.cursor, 0);
    main_->SetCursorBand(document_.cursor, 0);
    {
        const QSignalBlocker quiet(scroll_);
        scroll_->setValue(ScrollThumbForFrame(document_.cursor, length));
    }
    main_->SetView(view.start, view.end - view.start);
}

void WaveView::ZoomIn() {
    // An empty document has nothing to zoom into: it keeps its second.
    if (document_.Length() <= 0) return;
    SetView(ZoomInView(View(), document_.cursor, document_.Length()));
    emit ViewChanged();
}

void WaveView::ZoomOut() {
    if (document_.Length() <= 0) return;
    SetView(ZoomOutView(View(), document_.Length()));
    emit ViewChanged();
}

void WaveView::ZoomToSelection() {
    if (document_.selectionEnd <= document_.selectionStart) return;
    SetView({document_.selectionStart, document_.selectionEnd});
    emit ViewChanged();
}

void WaveView::ZoomFull() {
    if (document_.Length() <= 0) return;
    SetView({0, document_.Length()});
    emit ViewChanged();
}

void WaveView::ToggleVerticalZoom() {
    document_.verticalZoom = !document_.verticalZoom;
    UpdateModeButtons();
    Relayout();
    emit ViewChanged();
}

int32_t WaveView::DisplayMode() const {
    return document_.displayMode;
}

bool WaveView::VerticalZoom() const {
    return document_.verticalZoom;
}

void WaveView::SetDisplayMode(int32_t mode) {
    if (mode < WavePicture::kCombined || mode > WavePicture::kDual) return;
    document_.displayMode = mode;
    UpdateModeButtons();
    Relayout();
    emit ViewChanged();
}

void WaveView::UpdateModeButtons() {
    for (int m = 0; m < 3; ++m)
        modeButtons_[m]->setChecked(m == document_.displayMode);
    verticalButton_->setChecked(document_.verticalZoom);
}

void WaveView::PlaceCursor(int32_t frame, bool scrubbing) {
    const int32_t f = std::max(frame, 0);
    document_.cursor = f;
    {
        const QSignalBlocker quiet(scroll_);
        scroll_->setValue(ScrollThumbForFrame(f, document_.Length()));
    }
    overview_->SetCursorBand(f, 0);
    main_->SetCursorBand(f, scrubbing ? FramesFromMilliseconds(kScrubBandMs, RateOf(document_)) : 0);
    const WaveViewRange view = View();
    const WaveViewRange followed = FollowCursor(view, f);
    if (followed.start != view.start || followed.end != view.end) SetView(followed);
}

void WaveView::ShowPlayPosition(int32_t frame) {
    const int32_t f = std::max(frame, 0);
    {
        const QSignalBlocker quiet(scroll_);
        scroll_->setValue(ScrollThumbForFrame(f, document_.Length()));
    }
    overview_->SetCursorBand(f, 0);
    main_->SetCursorBand(f, main_->CursorBandLength());
    // With a selection the user is looking at it; the view stays.
    if (document_.selectionEnd > document_.selectionStart) return;
    const WaveViewRange view = View();
    const WaveViewRange followed = FollowCursor(view, f);
    if (followed.start != view.start || followed.end != view.end) SetView(followed);
}

void WaveView::TakeSelection(WaveWindow* from) {
    const int32_t length = document_.Length();
    const int32_t start = Limit(from->SelectionStart(), length);
    const int32_t end = Limit(from->SelectionEnd(), length);
    document_.selectionStart = start;
    document_.selectionEnd = end;
    WaveWindow* other = from == main_ ? overview_ : main_;
    other->SetSelectionStart(start);
    other->SetSelectionEnd(end);
}

void WaveView::OnWindowNotification(WaveWindow* window, int code) {
    switch (code) {
        case WaveMouseTracker::kReleased:
            TakeSelection(window);
            window->SetSelectionStart(document_.selectionStart);
            window->SetSelectionEnd(document_.selectionEnd);
            document_.cursor = Limit(window->CursorBandStart(), document_.Length());
            emit SelectionFinished();
            break;
        case WaveMouseTracker::kSelectionChanged:
            TakeSelection(window);
            emit SelectionDragging();
            break;
        case WaveMouseTracker::kPastRight:
        case WaveMouseTracker::kBackFromRight:
        case WaveMouseTracker::kPastLeft:
        case WaveMouseTracker::kBackFromLeft:
            // Drag-cueing follows the main window only; the overview always
            // shows everything.
            if (window == main_) emit DragScroll(code);
            break;
        default:
            break;
    }
}

void WaveView::OnScrollAction(int action) {
    const int32_t length = document_.Length();
    const int64_t step = kScrollStepSeconds * RateOf(document_);
    int64_t target = 0;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
        case QAbstractSlider::SliderPageStepSub:
            target = int64_t{document_.cursor} - step;
            break;
        case QAbstractSlider::SliderSingleStepAdd:
        case QAbstractSlider::SliderPageStepAdd:
            target = int64_t{document_.cursor} + step;
            break;
        case QAbstractSlider::SliderToMinimum:
            target = 0;
            break;
        case QAbstractSlider::SliderToMaximum:
            target = length;
            break;
        case QAbstractSlider::SliderMove:
            target = FrameForScrollThumb(scroll_->sliderPosition(), length);
            break;
        default:
            return;
    }
    const int32_t frame = Limit(target, length);
    // A step puts the thumb where the cursor will be, not one slider step
    // further; a dragged thumb stays under the pointer.
    if (action != QAbstractSlider::SliderMove) scroll_->setSliderPosition(ScrollThumbForFrame(frame, length));
    emit ScrollRequested(frame);
}

}  // namespace sonitor
