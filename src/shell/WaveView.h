#pragma once

#include <QWidget>
#include <cstdint>

#include "document/WavePicture.h"

class QScrollBar;
class QToolButton;

namespace sonitor {

class SoundDocument;
class WaveWindow;

// A document window's wave pane: the overview strip (control 80) over the
// zoomable main window (81), the scroll bar (82, range 0..200) and the zoom
// and display-mode buttons (83..89, 91). It keeps the document's selection
// and cursor in step with the mouse and tells its owner (the main frame)
// what happened; playback decisions stay with the owner.
class WaveView : public QWidget {
    Q_OBJECT
public:
    explicit WaveView(SoundDocument& document, QWidget* parent = nullptr);
    ~WaveView() override;

    SoundDocument& Document() { return document_; }
    WaveWindow& Overview() { return *overview_; }
    WaveWindow& Main() { return *main_; }

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
    // Placing the cursor: the document's cursor, the scroll thumb, both
    // cursor bands (25 ms on the main window while scrubbing) and the view
    // following it. Status text is the owner's business.
    void PlaceCursor(int32_t frame, bool scrubbing);
    // The play cursor while playing: the cursor band moves, the document's
    // cursor does not.
    void ShowPlayPosition(int32_t frame);
    WaveViewRange View() const;
    void SetView(WaveViewRange view);

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

    SoundDocument& document_;
    WaveWindow* overview_ = nullptr;
    WaveWindow* main_ = nullptr;
    QScrollBar* scroll_ = nullptr;
    QToolButton* modeButtons_[3] = {};
    QToolButton* verticalButton_ = nullptr;
};

}  // namespace sonitor
