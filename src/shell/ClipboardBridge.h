#pragma once

#include <QObject>
#include <cstdint>
#include <functional>

namespace sonitor {

class AudioClip;
class TaskHost;

// The system clipboard side of Copy and Paste From Windows Clipboard: Copy
// promises "audio/wav" and "audio/x-wav" and renders the WAV file only when
// another program asks; Take reads either type back through the normal
// loader. Rendering is refused while a task runs (busy() true): the asking
// program then gets no data rather than a second task on top of the first.
//
// The promise holds the clip as it was at Copy (a clip costs nothing to
// copy): a later Cut changes the program's clipboard but must not change
// what other programs receive from that Copy.
class ClipboardBridge final : public QObject {
    Q_OBJECT
public:
    ClipboardBridge(const AudioClip& clipboardClip, TaskHost& tasks, std::function<bool()> busy,
                    QObject* parent = nullptr);
    ~ClipboardBridge() override;

    // Copy: puts the promise on the clipboard (nothing is written yet).
    void Announce();
    // How many times the WAV was rendered (tests: Copy twice without a
    // request renders nothing).
    int RenderCount() const { return renders_; }
    // Paste From Windows Clipboard: fills clip from the clipboard's WAV data
    // (or a copied .wav file); an empty clipboard leaves clip empty
    // (kTaskDone).
    int32_t Take(AudioClip& clip);

    // The program's clipboard clip as WAV bytes; empty while busy or when it
    // could not be written.
    QByteArray Render();
    // Used by the promised data object: the same for the clip it holds.
    QByteArray RenderClip(const AudioClip& clip);

private:
    const AudioClip& clip_;
    TaskHost& tasks_;
    std::function<bool()> busy_;
    int renders_ = 0;
};

}  // namespace sonitor
