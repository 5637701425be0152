#pragma once

#include <cstdint>

#include "foundation/UserPrompt.h"

namespace sonitor {

class SoundDocument;

// What document operations need from whoever shows the documents: the
// editor window, the command-line tool or a test. The player and the
// windows reach the core through this.
class DocumentHost {
public:
    virtual ~DocumentHost() = default;

    virtual UserPrompt& Prompt() = 0;
    // Playback must stop before a document's state is replaced.
    virtual void StopPlayback() {}
    // Plays the document from a frame (automatic playback after an edit).
    virtual void StartPlayback(SoundDocument& document, int32_t position);
    // The document's audio, selection or cursor changed: redraw its windows
    // and the status display.
    virtual void DocumentChanged(SoundDocument& document);
    // The modified flag or the undo ring changed: refresh the Save, Undo and
    // Redo commands.
    virtual void CommandStatesChanged(SoundDocument& document);
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
