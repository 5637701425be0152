#pragma once

#include <QWidget>
#include <cstdint>
#include <vector>

#include "document/WavePicture.h"
#include "shell/WaveWindow.h"

class QHBoxLayout;
class QScrollBar;
class QToolButton;

namespace sonitor {

class SoundDocument;

// A document window's wave pane: the overview strip (control 80) over the
// zoomable main window (81), the scroll bar (82, range 0..200) and the zoom
// and display-mode buttons (83..89, 91). It keeps the document's selection
// and cursor in step with the mouse and tells its owner (the main frame)
// what happened; playback decisions stay with the owner.
//
// The display mode, the vertical-zoom flag and the bookmark list belong to
// the document but are kept here, one set per document window.
class WaveView : public QWidget {
    Q_OBJECT
public:
    explicit WaveView(SoundDocument& document, QWidget* parent = nullptr);
    ~WaveView() override;

    SoundDocument& Document() { return document_; }
    WaveWindow& Overview() { return *overview_; }
    WaveWindow& Main() { return *main_; }
    QScrollBar& ScrollBar() { return *scroll_; }

    // After every change of the document: lengths, attach again, views,
    // bookmarks, selection edges.
    void Relayout();
    // Window menu commands 5001..5005, 5007, 5008, 5013.
    void ZoomIn();
    void ZoomOut();
    void ZoomToSelection();
    void ZoomFull();
    void ToggleVerticalZoom();
    void SetDisplayMode(int32_t mode);
    int32_t DisplayMode() const;
    bool VerticalZoom() const;
    // Placing the cursor: the document's cursor, the scroll thumb, both
    // cursor bands (25 ms on the main window while scrubbing) and the view
    // following it. Status text is the owner's business.
    void PlaceCursor(int32_t frame, bool scrubbing);
    // The play cursor while playing: the cursor band moves, the document's
    // cursor does not; without a selection the view keeps it in sight.
    void ShowPlayPosition(int32_t frame);
    WaveViewRange View() const;
    // Limits the view to the document, stores it there and shows it.
    void SetView(WaveViewRange view);

    // The document's bookmarks as the windows draw them; call Relayout (or
    // SetBookmarks on the windows) after changing the list.
    std::vector<WaveBookmark>& Bookmarks() { return bookmarks_; }

signals:
    // Code 2 from either window: the document already holds the new
    // selection and cursor.
    void SelectionFinished();
    // Code 8: the document's selection follows the drag.
    void SelectionDragging();
    // Codes 4..7 from the main window (drag past an edge and back).
    void DragScroll(int code);
    // The scroll bar moved the target; the owner places the cursor there and
    // seeks playback.
    void ScrollRequested(int32_t frame);
    // A view command changed what is shown: refresh the status fields.
    void ViewChanged();

private:
    void OnWindowNotification(WaveWindow* window, int code);
    void OnScrollAction(int action);
    void UpdateModeButtons();
    // The selection a window holds, limited to the document, into the
    // document and the other window.
    void TakeSelection(WaveWindow* from);
    QToolButton* AddButton(int controlId, const QString& text, const QString& tooltip);

    SoundDocument& document_;
    WaveWindow* overview_ = nullptr;
    WaveWindow* main_ = nullptr;
    QScrollBar* scroll_ = nullptr;
    QToolButton* modeButtons_[3] = {};
    QToolButton* verticalButton_ = nullptr;
    QHBoxLayout* buttonBar_ = nullptr;
    std::vector<WaveBookmark> bookmarks_;
};

}  // namespace sonitor
