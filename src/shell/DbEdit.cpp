#include "shell/DbEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstdint>

namespace sonitor {

namespace {

constexpr int kLowest = -127;
constexpr int kHighest = 127;
constexpr int kThumbWidth = 8;
constexpr int kPageStep = 10;

int LimitToDecibelByte(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, kLowest, kHighest));
}

}  // namespace

DbEdit::DbEdit(QWidget* parent, bool withTextBox) : QWidget(parent) {
    setObjectName("LDBEdit");
    if (withTextBox) {
        text_ = new QLineEdit(this);
        text_->setObjectName("LDBEditText");
        // The box is only as wide as "-00dB": a frame would hide the text.
        text_->setFrame(false);
        text_->installEventFilter(this);
        setFocusProxy(text_);
        connect(text_, &QLineEdit::textEdited, this, [this] { OnTextEdited(); });
        // While typing the box keeps what was typed; once the user is done it
        // shows the value that was taken from it.
        connect(text_, &QLineEdit::editingFinished, this, [this] { ShowValueInTextBox(); });
    } else {
        setFocusPolicy(Qt::StrongFocus);
    }
    LayoutTextBox();
    ShowValueInTextBox();
}

std::string DbEdit::DisplayText(int value) {
    if (value <= kLowest) return "--dB";
    return std::to_string(value) + "dB";
}

int DbEdit::ParseTypedText(std::string_view text) {
    // Past 127 every number reads the same, so stop growing there and no
    // amount of digits can overflow.
    int64_t number = 0;
    bool negative = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            number = std::min<int64_t>(number * 10 + (c - '0'), 1000);
        } else if (c == '-') {
            if (negative) number = kHighest;
            negative = true;
        }
    }
    return LimitToDecibelByte(negative ? -number : number);
}

int DbEdit::ValueAtTrackPosition(int x, int trackWidth, int minimum, int maximum) {
    if (trackWidth <= 0) return minimum;
    const int64_t at = std::clamp(x, 0, trackWidth);
    return static_cast<int>(minimum + (int64_t{maximum} - minimum) * at / trackWidth);
}

void DbEdit::SetValue(int value) {
    Store(value);
    ShowValueInTextBox();
}

void DbEdit::SetRange(int minimum, int maximum) {
    minimum_ = LimitToDecibelByte(minimum);
    maximum_ = LimitToDecibelByte(maximum);
    update();
}

bool DbEdit::Store(int value) {
    int v = value;
    if (v > maximum_) v = maximum_;
    if (v < minimum_) v = minimum_;
    v = LimitToDecibelByte(v);
    if (v == value_) return false;
    value_ = v;
    update();
    return true;
}

void DbEdit::ShowValueInTextBox() {
    if (text_ == nullptr) return;
    const QString shown = QString::fromStdString(DisplayText(value_));
    if (text_->text() == shown) return;
    text_->setText(shown);
    // "-126dB" is wider than the box: show its sign and digits, not its end.
    text_->setCursorPosition(0);
}

void DbEdit::UserChange(int value) {
    if (!Store(value)) return;
    ShowValueInTextBox();
    emit EditChanged(value_);
}

void DbEdit::OnTextEdited() {
    const int typed = ParseTypedText(text_->text().toStdString());
    if (Store(typed)) emit EditChanged(value_);
}

int DbEdit::TextBoxWidth() const {
    if (text_ == nullptr) return 0;
    return text_->fontMetrics().horizontalAdvance(QStringLiteral("-00dB")) + 2;
}

int DbEdit::TrackWidth() const {
    return std::max(0, width() - TextBoxWidth());
}

void DbEdit::LayoutTextBox() {
    if (text_ == nullptr) return;
    text_->setGeometry(0, 0, TextBoxWidth(), height());
}

QSize DbEdit::sizeHint() const {
    const int h = text_ != nullptr ? std::max(text_->sizeHint().height(), 20) : 20;
    return {TextBoxWidth() + 120, h};
}

QSize DbEdit::minimumSizeHint() const {
    const int h = text_ != nullptr ? text_->minimumSizeHint().height() : 12;
    return {TextBoxWidth() + 2 * kThumbWidth, h};
}

int DbEdit::ThumbCentre() const {
    const int range = maximum_ - minimum_;
    const int along = range > 0 ? static_cast<int>(int64_t{TrackWidth()} * (value_ - minimum_) / range) : 0;
    return TextBoxWidth() + along;
}

void DbEdit::SetFromTrack(int x) {
    UserChange(ValueAtTrackPosition(x - TextBoxWidth(), TrackWidth(), minimum_, maximum_));
}

void DbEdit::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& pal = palette();
    const int left = TextBoxWidth();
    const int right = width() - 1;
    const int mid = height() / 2;

    // The groove: a sunken line across the track.
    painter.setPen(pal.color(QPalette::Dark));
    painter.drawLine(left + 2, mid - 1, right - 2, mid - 1);
    painter.setPen(pal.color(QPalette::Light));
    painter.drawLine(left + 2, mid, right - 2, mid);

    // The thumb, kept whole inside the track at both ends.
    const int thumbLeft =
        std::clamp(ThumbCentre() - kThumbWidth / 2, left, std::max(left, right - kThumbWidth));
    const QRect thumb(thumbLeft, 2, kThumbWidth, std::max(4, height() - 4));
    painter.fillRect(thumb, pal.color(QPalette::Button));
    painter.setPen(pal.color(QPalette::Shadow));
    painter.drawRect(thumb.adjusted(0, 0, -1, -1));
    if (text_ == nullptr && hasFocus()) {
        painter.setPen(QPen(pal.color(QPalette::Highlight), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void DbEdit::mousePressEvent(QMouseEvent* event) {
    const int x = static_cast<int>(event->position().x());
    if (event->button() != Qt::LeftButton || x < TextBoxWidth()) {
        QWidget::mousePressEvent(event);
        return;
    }
    dragging_ = true;
    setCursor(Qt::PointingHandCursor);
    SetFromTrack(x);
}

void DbEdit::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) SetFromTrack(static_cast<int>(event->position().x()));
}

void DbEdit::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_) return;
    dragging_ = false;
    unsetCursor();
}

void DbEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Down:
            UserChange(value_ - 1);
            break;
        case Qt::Key_Right:
        case Qt::Key_Up:
            UserChange(value_ + 1);
            break;
        case Qt::Key_PageDown:
            UserChange(value_ - kPageStep);
            break;
        case Qt::Key_PageUp:
            UserChange(value_ + kPageStep);
            break;
        case Qt::Key_Home:
            UserChange(minimum_);
            break;
        case Qt::Key_End:
            UserChange(maximum_);
            break;
        default:
            QWidget::keyPressEvent(event);
    }
}

void DbEdit::resizeEvent(QResizeEvent* event) {
    LayoutTextBox();
    QWidget::resizeEvent(event);
}

void DbEdit::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        if (text_ != nullptr) text_->setEnabled(isEnabled());
        update();
    } else if (event->type() == QEvent::FontChange) {
        LayoutTextBox();
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

void DbEdit::focusInEvent(QFocusEvent* event) {
    // Only reached without a text box (otherwise the box is the focus
    // proxy); the base class repaints, which shows the focus frame.
    QWidget::focusInEvent(event);
}

bool DbEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == text_ && event->type() == QEvent::FocusIn &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::MouseFocusReason) {
        // After the box's own handling, which would leave a programmatic
        // focus without a selection.
        QMetaObject::invokeMethod(text_, &QLineEdit::selectAll, Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace sonitor
