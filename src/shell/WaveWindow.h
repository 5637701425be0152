#pragma once

#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "document/WavePicture.h"

namespace sonitor {

class SoundDocument;

// A bookmark as the wave window draws it: a time and a name.
struct WaveBookmark {
    int32_t milliseconds = 0;
    std::string name;
};

// The wave window ("LSNWaveWindow"): paints a WavePicture with the
// selection, the cursor band and bookmarks, and turns the mouse into
// selection gestures. It never changes the document: it reports through
// Notification and the owner writes the selection back.
class WaveWindow : public QWidget {
    Q_OBJECT
public:
    // controlId: 80 for the overview strip, 81 for the main window.
    WaveWindow(int controlId, QWidget* parent = nullptr);
    ~WaveWindow() override;

    WavePicture& Picture() { return picture_; }
    const WavePicture& Picture() const { return picture_; }

    void Attach(const SoundDocument& document, int32_t mode, bool verticalZoom);
    void Detach();
    void SetView(int32_t start, int32_t span);
    void SetCursorBand(int32_t start, int32_t length);
    void SetLength(int32_t frames);
    void SetSelectionStart(int32_t frame);
    void SetSelectionEnd(int32_t frame);
    // An empty list counts as none. The list must outlive its use here.
    void SetBookmarks(std::vector<WaveBookmark>* bookmarks);
    int BookmarkAt(int x, int y) const;
    void MoveBookmark(int index, int32_t frame);
    void InvalidateFrame(int32_t frame);

    // The selection and cursor the mouse produced (valid after Notification).
    int32_t SelectionStart() const;
    int32_t SelectionEnd() const;
    int32_t CursorBandStart() const { return bandStart_; }
    int32_t CursorBandLength() const { return bandLength_; }
    int32_t DocumentLength() const { return length_; }

signals:
    // Codes 2 (released), 4/5/6/7 (drag past an edge and back), 8 (selection
    // changed while dragging).
    void Notification(int code);
    // Pointer over or dragging a bookmark (index, position in this window).
    void BookmarkHover(int index, QPoint position);
    void BookmarkHoverEnd();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void InvalidateColumns(int c0, int c1);

    WavePicture picture_;
    WaveMouseTracker mouse_;
    int32_t bandStart_ = 0;
    int32_t bandLength_ = 0;
    int32_t length_ = 0;
    std::vector<WaveBookmark>* bookmarks_ = nullptr;
};

}  // namespace sonitor
