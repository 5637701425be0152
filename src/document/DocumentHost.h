#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/UserPrompt.h"

namespace sonitor {

class SoundDocument;

// One entry of a file dialog's type list.
struct FileDialogFilter {
    std::string description;  // "Wave (*.wav)"
    std::string patterns;     // "*.wav" or "*.aif;*.aiff"
};

// What a save dialog shows.
struct SaveFileDialog {
    std::string title;
    std::string folder;            // initial folder; empty for the current one
    std::string fileName;          // proposed name without extension
    std::string defaultExtension;  // without the dot, added to a bare name
    std::vector<FileDialogFilter> filters;
    int filterIndex = 1;  // counted from 1
};

// What document operations need from whoever shows the documents: the
// editor window, the command-line tool or a test. The player and the
// windows reach the core through this.
class DocumentHost {
public:
    virtual ~DocumentHost() = default;

    virtual UserPrompt& Prompt() = 0;
    // Playback must stop before a document's state is replaced.
    virtual void StopPlayback() {}
    // True while the player plays (any document).
    virtual bool IsPlaying() const { return false; }
    // Plays the document from a frame (automatic playback after an edit).
    virtual void StartPlayback(SoundDocument& document, int32_t position);
    // The document's audio, selection or cursor changed: redraw its windows
    // and the status display.
    virtual void DocumentChanged(SoundDocument& document);
    // The modified flag or the undo ring changed: refresh the Save, Undo and
    // Redo commands.
    virtual void CommandStatesChanged(SoundDocument& document);

    // The platform's save dialog: the chosen absolute path, or nothing when
    // the user cancelled (and for hosts that cannot ask).
    virtual std::optional<std::string> ChooseSaveFile(const SaveFileDialog& dialog);
    // The options dialog of an export format before a Save As (encoder
    // settings, wave format, raw settings); false when cancelled. Hosts
    // without dialogs keep the stored settings.
    virtual bool ShowFormatOptions(const std::string& extension, int32_t rate, int channels);

    // A document was added to or is about to leave the open set: the editor
    // opens or closes its window.
    virtual void DocumentOpened(SoundDocument& document);
    virtual void DocumentClosing(SoundDocument& document);
    // Arranges the document windows ("AutoArrangeWindows" after Copy To New).
    virtual void ArrangeWindows() {}
    // Copy put new audio on the program's clipboard: promise it to other
    // programs as a WAV file (rendered only when one asks).
    virtual void AnnounceClipboard() {}
};

// A host without windows or sound: prompts go to stderr.
class HeadlessDocumentHost final : public DocumentHost {
public:
    explicit HeadlessDocumentHost(bool answerYes = true) : prompt_(answerYes) {}
    UserPrompt& Prompt() override { return prompt_; }

private:
    StderrPrompt prompt_;
};

}  // namespace sonitor
