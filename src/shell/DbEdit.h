#pragma once

#include <QWidget>
#include <string>
#include <string_view>

class QLineEdit;

namespace sonitor {

// The decibel slider ("LDBEdit"): a track with a thumb and, unless created
// without it, a small text box on its left showing "%ddB" ("--dB" at -127
// and below). Values are whole decibels, -127..127, clamped to the range.
class DbEdit : public QWidget {
    Q_OBJECT
public:
    explicit DbEdit(QWidget* parent = nullptr, bool withTextBox = true);

    // Clamps into the range (the maximum first) and shows the result; no
    // EditChanged, since the change did not come from the user.
    void SetValue(int value);
    int Value() const { return value_; }
    // The value is not clamped again until the next change.
    void SetRange(int minimum, int maximum);
    int Minimum() const { return minimum_; }
    int Maximum() const { return maximum_; }
    QLineEdit* TextBox() const { return text_; }

    // Width of the text box (0 without one) and of the track to its right.
    int TextBoxWidth() const;
    int TrackWidth() const;

    // "%ddB", or "--dB" for -127 and below.
    static std::string DisplayText(int value);
    // Typed text: digits append, '-' makes it negative, a second '-' reads
    // 127 (so "--" is -127), everything else is ignored; limited to
    // -127..127.
    static int ParseTypedText(std::string_view text);
    // The slider's value at x pixels into a track of trackWidth pixels
    // (x limited to the track): minimum + (maximum - minimum) * x / width.
    static int ValueAtTrackPosition(int x, int trackWidth, int minimum, int maximum);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The user changed the value through the text box (the edit-change
    // notification, 0x300), the slider or the keys; only when the value
    // really changed.
    void EditChanged(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetFromTrack(int x);
    void OnTextEdited();
    // Stores the clamped value and repaints; true when it changed.
    bool Store(int value);
    void ShowValueInTextBox();
    void UserChange(int value);
    void LayoutTextBox();
    int ThumbCentre() const;

    int value_ = 0;
    int minimum_ = -127;
    int maximum_ = 127;
    bool dragging_ = false;
    QLineEdit* text_ = nullptr;
};

}  // namespace sonitor
