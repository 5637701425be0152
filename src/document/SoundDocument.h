#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/AudioClip.h"
#include "document/UndoRing.h"
#include "foundation/RefCounted.h"

namespace sonitor {

class DocumentHost;
class SettingsStore;

// One key/value pair of a file's tags (title, artist, ...), in file order.
struct TagEntry {
    std::string key;
    std::string value;
};

// An open sound: its clip, selection, cursor, view, undo ring and tags.
// Shared by the windows that show it (reference counted); freed when the last
// one lets go. Changed only on the user-interface thread.
//
// The part an undo slot saves (clip, modified flag, selection, cursor, view)
// is the DocumentState base. Destruction order follows from the layout: the
// undo slots go first, then the tags, then the clip.
class SoundDocument final : public RefCounted, public DocumentState {
public:
    SoundDocument() = default;
    SoundDocument(uint32_t sampleRate, uint8_t channels) { clip.SetFormat(sampleRate, channels); }

    std::vector<TagEntry> tags;
    UndoRing undo;

    // Full path of the file, or "Untitled %d" for a new document.
    std::string fileName;
    // Kept for the wave window.
    bool waveFlag = false;
    int32_t wavePosition = 0;
    // How the wave window draws a stereo document (0 combined, 1 left up and
    // right down, 2 two strips) and whether it magnifies the waveform by 8.
    // They belong to the document, not to a window, and are not undone.
    int32_t displayMode = 0;
    bool verticalZoom = false;
    // The two marks of the mark commands.
    int32_t firstMark = 0;
    int32_t secondMark = 0;

    // False when start and end are both 0; else start < end.
    bool HasSelection() const;
    int32_t Length() const { return clip.Length(); }

    DocumentState CaptureState() const { return *this; }
    void RestoreState(const DocumentState& state) { static_cast<DocumentState&>(*this) = state; }
};

// Selection start = min(a, b), end = max(a, b), the cursor as given; then
// the document's windows are refreshed.
void SetSelection(SoundDocument& document, int32_t a, int32_t b, int32_t cursor, DocumentHost& host);

// Called before every change of a document's audio: saves an undo state
// named actionName, sets the modified flag and refreshes the commands.
void BeginEdit(SoundDocument& document, const std::string& actionName, DocumentHost& host);

// Called after an effect, insertion or mix: when the working folder is low
// on space, says so and stops there (the change stays). Otherwise sets the
// cursor, refreshes, and when "AutoPlaybackAfterEffects" is set, moves the
// cursor to max(0, newCursor - preroll) and plays from there.
void FinishEdit(SoundDocument& document, int32_t newCursor, int32_t preroll, DocumentHost& host,
                const SettingsStore& settings);
void FinishEdit(SoundDocument& document, int32_t newCursor, int32_t preroll, DocumentHost& host);

// The message FinishEdit shows when the working folder is low on space.
std::string LowDiskSpaceMessage(const std::string& documentName);

// Undo and Redo of the Edit menu; false when there was nothing to do.
bool UndoEdit(SoundDocument& document, DocumentHost& host);
bool RedoEdit(SoundDocument& document, DocumentHost& host);

// The smallest n in 1..19 such that no open document is called "Untitled n"
// (compared without regard to case); 1 when all are taken.
int NextUntitledNumber(const std::vector<std::string>& openNames);
std::string UntitledName(int number);

// A new empty document named by NextUntitledNumber, with the rate and
// channels the settings give: "SelectedSampleRate"/"SelectedChannels" when
// "PromptSampleAndChannels" is set, else "DefaultSampleRate"/
// "DefaultChannels" (all in "Settings"; 44100 and 1 by default).
Ref<SoundDocument> NewUntitledDocument(const std::vector<std::string>& openNames,
                                       const SettingsStore& settings);
// A new document holding a copy of clip, marked modified.
Ref<SoundDocument> NewDocumentFromClip(const AudioClip& clip, const std::vector<std::string>& openNames);

}  // namespace sonitor
