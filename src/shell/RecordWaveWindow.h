#pragma once

#include <QWidget>
#include <cstdint>

#include "document/WavePicture.h"
#include "foundation/AudioSource.h"

namespace sonitor {

// The recording dialog's wave window ("LWaveWindow", control 105): paints a
// WavePicture of magnitude columns (one byte per column, the largest
// magnitude over all channels) and a cursor; no overview, selection or
// bookmarks. Releasing the left button places its cursor and reports code 2.
class RecordWaveWindow : public QWidget {
    Q_OBJECT
public:
    explicit RecordWaveWindow(QWidget* parent = nullptr);
    ~RecordWaveWindow() override;

    // Shows source (a reader over the recording that only this window uses:
    // its worker seeks it) with rate and channels. The view starts empty
    // until SetView; a recording that grew shows its new frames at the next
    // SetView, also one of the same view.
    void Attach(Ref<AudioSource> source, int32_t sampleRate, int channels);
    void Detach();
    void SetView(int32_t start, int32_t span) { picture_.SetView(start, span); }
    void SetCursor(int32_t frame);
    int32_t Cursor() const { return cursor_; }
    int32_t SampleRate() const { return picture_.SampleRate(); }
    int Channels() const { return picture_.Channels(); }
    const WavePicture& Picture() const { return picture_; }
    // For tests: waits until the requested view is computed.
    bool WaitIdle(int timeoutMs) const;
    // The byte of column x (for tests).
    uint8_t ColumnValue(int x) const;

signals:
    void Notification(int code);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Repaints columns c0..c1 (either order) with the reach of the cursor's
    // triangles on both sides.
    void InvalidateColumns(int c0, int c1);

    WavePicture picture_;
    int32_t cursor_ = 0;
};

}  // namespace sonitor
