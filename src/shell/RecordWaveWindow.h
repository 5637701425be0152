#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

#include "foundation/AudioSource.h"

namespace sonitor {

// The recording dialog's wave window ("LWaveWindow", control 105): one byte
// per column, the largest magnitude over all channels read from samples
// (shifted right by 10, capped at 255), without overview, selection or
// bookmarks. Releasing the left button places its cursor and reports code 2.
class RecordWaveWindow : public QWidget {
    Q_OBJECT
public:
    explicit RecordWaveWindow(QWidget* parent = nullptr);
    ~RecordWaveWindow() override;

    // Shows source (a reader over the recording) with rate and channels.
    void Attach(Ref<AudioSource> source, int32_t sampleRate, int channels);
    void Detach();
    void SetView(int32_t start, int32_t span);
    void SetCursor(int32_t frame);
    int32_t Cursor() const;
    int32_t SampleRate() const { return sampleRate_; }
    int Channels() const { return channels_; }
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

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
    int32_t sampleRate_ = 44100;
    int channels_ = 1;
};

}  // namespace sonitor
