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
//
// Window coordinates: x = 0 and y = 0 are the black border, picture column
// c is drawn at x = c + 1, the white border lies at y = Height() and at
// x = Width() + 1 of the picture.
class WaveWindow : public QWidget {
    Q_OBJECT
public:
    // controlId: 80 for the overview strip, 81 for the main window.
    WaveWindow(int controlId, QWidget* parent = nullptr);
    ~WaveWindow() override;

    WavePicture& Picture() { return picture_; }
    const WavePicture& Picture() const { return picture_; }

    // Attach enables the window and starts its picture; Detach disables it
    // (it then paints grey).
    void Attach(const SoundDocument& document, int32_t mode, bool verticalZoom);
    void Detach();
    void SetView(int32_t start, int32_t span);
    void SetCursorBand(int32_t start, int32_t length);
    void SetLength(int32_t frames);
    void SetSelectionStart(int32_t frame);
    void SetSelectionEnd(int32_t frame);
    // An empty list counts as none. The list must outlive its use here.
    void SetBookmarks(std::vector<WaveBookmark>* bookmarks);
    // The first shown bookmark within 4 pixels of x with y in the bottom 6
    // pixels (window coordinates); -1 if none.
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
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void InvalidateColumns(int c0, int c1);
    void InvalidateFrames(int32_t a, int32_t b);
    // On the user-interface thread, after the worker computed columns or
    // moved a drag edge.
    void OnColumnsReady(int c0, int c1, int scrolled);
    void OnDragEdgeMoved(WavePicture::DragScroll mode, int32_t frame);
    // Picture column under a window x, and the frame shown there.
    static int ColumnOf(int x) { return x - 1; }
    int32_t FrameAtX(int x) const;
    int32_t BookmarkFrame(const WaveBookmark& bookmark) const;
    // Repaints what the tracker changed and posts its codes.
    void Follow(const WaveMouseTracker::State& before, const std::vector<WaveMouseTracker::Code>& codes);
    void Post(const std::vector<WaveMouseTracker::Code>& codes);
    void PaintCursorMark(QPainter& painter, int x, const QColor& colour, bool dotted) const;

    WavePicture picture_;
    WaveMouseTracker mouse_;
    int32_t bandStart_ = 0;
    int32_t bandLength_ = 0;
    int32_t length_ = 0;
    std::vector<WaveBookmark>* bookmarks_ = nullptr;
    bool overBookmark_ = false;
};

}  // namespace sonitor
