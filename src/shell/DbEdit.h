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

    void SetValue(int value);
    int Value() const { return value_; }
    void SetRange(int minimum, int maximum);
    int Minimum() const { return minimum_; }
    int Maximum() const { return maximum_; }
    QLineEdit* TextBox() const { return text_; }

    // "%ddB", or "--dB" for -127 and below.
    static std::string DisplayText(int value);
    // Typed text: digits append, '-' makes it negative, a second '-' reads
    // 127 (so "--" is -127), everything else is ignored; limited to
    // -127..127.
    static int ParseTypedText(std::string_view text);

signals:
    // The user changed the value through the text box (the edit-change
    // notification, 0x300) or the slider.
    void EditChanged(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void SetFromTrack(int x);
    void OnTextEdited();

    int value_ = 0;
    int minimum_ = -127;
    int maximum_ = 127;
    bool dragging_ = false;
    QLineEdit* text_ = nullptr;
};

}  // namespace sonitor
