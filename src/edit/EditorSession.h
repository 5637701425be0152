#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/AudioClip.h"
#include "document/SoundDocument.h"
#include "edit/EditContext.h"
#include "edit/EditSettings.h"

namespace sonitor {

// The editing side of the program: the open documents, the active one and
// the clipboard clip, with the rules that concern more than one document
// (untitled numbering, Copy To New, Split, Auto Split, Save Select Region
// As). The editor window and sonitor-cli both drive this one object; the
// host shows what it does.
class EditorSession {
public:
    EditorSession(DocumentHost& host, TaskHost& tasks, const SettingsStore& settings);
    ~EditorSession();
    EditorSession(const EditorSession&) = delete;
    EditorSession& operator=(const EditorSession&) = delete;

    EditContext& Context() { return context_; }
    DocumentHost& Host() { return context_.host; }
    const SettingsStore& Settings() const { return context_.settings; }

    // The open documents, oldest first, and the active one (null when none).
    const std::vector<Ref<SoundDocument>>& Documents() const { return documents_; }
    SoundDocument* Active() const { return active_.Get(); }
    void Activate(SoundDocument* document);
    // The names of the open documents, for untitled numbering.
    std::vector<std::string> OpenNames() const;

    // Adds a document to the open set, tells the host, makes it active.
    void AddDocument(const Ref<SoundDocument>& document);
    // Takes a document out of the open set (no questions: the caller has
    // asked about unsaved changes). The next one becomes active.
    void CloseDocument(SoundDocument& document);

    // New: an empty untitled document with the new-file settings.
    Ref<SoundDocument> NewDocument();
    // Opens a file into a new document through the load task; null when it
    // could not be opened (the task has said why).
    Ref<SoundDocument> OpenDocument(const std::string& path);

    // The program's clipboard: initially empty, 44100 Hz mono.
    AudioClip& Clipboard() { return clipboard_; }

    // Copy To New: a new untitled document holding the active document's
    // selection, marked modified; windows arranged when
    // "AutoArrangeWindows" is set. Null without a selection.
    Ref<SoundDocument> CopyToNew();
    // Split into two at the cursor: the document keeps [0, cursor) under
    // undo "Split file at this point", a new untitled document gets the rest.
    Ref<SoundDocument> SplitAtCursor();
    // Auto Split with the given settings: asks "Save File" first when the
    // document has unsaved changes (Yes saves, No ends), finds the regions,
    // and with two or more closes the document and opens one new document
    // per region, named "%s (%d)%s". Returns the new documents (empty when
    // nothing was split; the message has been shown).
    std::vector<Ref<SoundDocument>> AutoSplit(const AutoSplitSettings& settings);
    // Save Select Region As: the save dialog (Wave only, "SaveAsDir"), the
    // replace question, then the selection saved by the task "Saving...".
    bool SaveSelectionAs();
    // The same without the dialog: the selection (the whole document when
    // there is none) written to path in the format of its extension.
    bool SaveSelectionTo(const std::string& path);

private:
    EditContext context_;
    std::vector<Ref<SoundDocument>> documents_;
    Ref<SoundDocument> active_;
    AudioClip clipboard_;
};

// The clipboard exchange with other programs, as WAV files.

// Render: the clip saved as a complete WAV file (the WAV writer's format for
// the clip's rate and channels) into bytes, through the save task "Saving to
// clipboard" and the temporary file "_clipboard.wav" in the user's data
// folder, which is deleted afterwards. False when it could not be written.
bool RenderClipAsWav(const AudioClip& clip, TaskHost& tasks, std::string& bytes);

// Take: the bytes of a WAV file (or any file the import reads) written to
// "clipboard.wav" in the user's data folder and loaded into clip with the
// load task "Loading Audio File Source". Returns the task result; empty
// bytes leave clip empty and return kTaskDone.
int32_t TakeWavIntoClip(const std::string& bytes, TaskHost& tasks, AudioClip& clip);

}  // namespace sonitor
