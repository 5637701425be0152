#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/AudioClip.h"
#include "edit/EditContext.h"
#include "edit/EditSettings.h"

namespace sonitor {

class ProgressTask;
class SoundDocument;

// The operations of the Edit menu on one document, with explicit
// parameters: the dialogs (editor) or the command line (sonitor-cli) gather
// the values, validate them and store them, then call these. Each one stops
// playback where the command does, calls BeginEdit with the command's undo
// name, runs its long part as a task through ctx.tasks, and ends with
// FinishEdit as the command's table gives. Operations that return an int32_t
// return the TaskResult (kTaskDone when there was nothing to do); the others
// return whether the document changed (or, for Copy, the clipboard).

enum class InsertPosition { Begin, Current, End };

// "Selects all": without a selection, the whole document is selected first.
void SelectAllIfNone(SoundDocument& document, DocumentHost& host);

// Selection commands (no undo state).
void SelectAll(SoundDocument& document, DocumentHost& host);
void SelectToStart(SoundDocument& document, DocumentHost& host);
void SelectToEnd(SoundDocument& document, DocumentHost& host);
// Select Specified Time: [start, end] ordered and clamped to the document;
// the cursor moves to the start.
void SelectFrames(SoundDocument& document, int32_t start, int32_t end, DocumentHost& host);
// Moves the cursor (clamped to 0..length) and drops the selection.
void SetCursor(SoundDocument& document, int32_t position, DocumentHost& host);

bool EditCut(SoundDocument& document, AudioClip& clipboard, EditContext& ctx);
bool EditCopy(SoundDocument& document, AudioClip& clipboard, EditContext& ctx);
// Replaces the selection (or inserts at its start) by source, converted to
// the document's rate and channels when they differ; then selects the
// pasted material.
int32_t EditPaste(SoundDocument& document, const AudioClip& source, EditContext& ctx);
bool EditDelete(SoundDocument& document, EditContext& ctx);
bool EditTrim(SoundDocument& document, EditContext& ctx);
bool EditTrimStart(SoundDocument& document, EditContext& ctx);
bool EditTrimEnd(SoundDocument& document, EditContext& ctx);
int32_t EditAutoTrim(SoundDocument& document, const AutoTrimSettings& settings, EditContext& ctx);
bool EditSilenceSelection(SoundDocument& document, EditContext& ctx);
bool EditRepeatLoop(SoundDocument& document, const RepeatSettings& settings, EditContext& ctx);
bool EditInsertSilence(SoundDocument& document, InsertPosition where, const SilenceSettings& settings,
                       EditContext& ctx);
// Loads path (the load task), converts it to the document's format and
// inserts it; a file that cannot be loaded or converted changes nothing.
int32_t EditInsertFile(SoundDocument& document, InsertPosition where, const std::string& path,
                       EditContext& ctx);
int32_t EditReverse(SoundDocument& document, EditContext& ctx);
int32_t EditPasteMix(SoundDocument& document, const AudioClip& source, const MixSettings& settings,
                     EditContext& ctx);
int32_t EditMixFile(SoundDocument& document, const std::string& path, const MixSettings& settings,
                    EditContext& ctx);

// The two marks.
void MarkFirstPosition(SoundDocument& document, DocumentHost& host);
void MarkSecondPosition(SoundDocument& document, DocumentHost& host);
void RecallMarkSelection(SoundDocument& document, DocumentHost& host);

// The undo names of the three insert positions.
std::string InsertSilenceUndoName(InsertPosition where);
std::string InsertFileUndoName(InsertPosition where);

// ---- The passes behind the commands, for the commands above, the batch
// converter and tests.

// Loads a file into a working clip with the load task's work (the file's
// own rate and channels). Returns the task result.
int32_t LoadFileIntoClip(ProgressTask& task, const std::string& path, AudioClip& clip);
// Converts clip in place to rate and channels ("Converting rate or
// channels..."); kTaskDone at once when it already has them.
int32_t ConvertClip(ProgressTask& task, AudioClip& clip, int32_t sampleRate, int channels);

// The mix of Paste Mix and Mix File, as a task's work: mixes source (already
// in the document's format) into [start, end) of the document's clip with
// the settings' gains and overflow handling; the selection end is moved for
// overflow modes 0 and 1 through selectionEnd. Cancellation leaves the clip
// as it was.
int32_t MixIntoClip(ProgressTask& task, AudioClip& clip, const AudioClip& source, int32_t start,
                    int32_t& selectionEnd, const MixSettings& settings);
// Fixed-point gains of the mix (8.24) for volume and pan.
int32_t MixLeftGain(int32_t volume, int32_t pan);
int32_t MixRightGain(int32_t volume, int32_t pan);

// Reverses [start, end) of clip as a task's work (not cancellable).
int32_t ReverseClipRange(ProgressTask& task, AudioClip& clip, int32_t start, int32_t end);

// Auto trim's bounds from the peak overviews: frames before start and from
// end on are to be deleted. [0, length) when nothing is above the threshold.
struct TrimBounds {
    int32_t start = 0;
    int32_t end = 0;
};
TrimBounds FindAutoTrimBounds(const AudioClip& clip, int32_t thresholdDb);

// Auto split's regions of sound, as a task's work over the whole clip.
struct SplitRegion {
    int32_t start = 0;
    int32_t end = 0;
};
int32_t FindSplitRegions(ProgressTask& task, const AudioClip& clip, const AutoSplitSettings& settings,
                         std::vector<SplitRegion>& regions);

}  // namespace sonitor
