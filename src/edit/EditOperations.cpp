// The Edit menu's operations that only rebuild segment lists (cut, copy,
// paste, delete, trims, silence, repeat, inserts) and the selection and mark
// commands. The passes that compute samples (mix, reverse, auto trim, auto
// split) live in MixAndScan.cpp.
#include <algorithm>
#include <limits>

#include "document/AudioClip.h"
#include "document/DocumentHost.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "foundation/Numbers.h"

namespace sonitor {

namespace {

constexpr int64_t kMaxFrames = std::numeric_limits<int32_t>::max();

// Repeat Loop adds one copy of the range's segments per repeat. A tiny range
// repeated millions of times stays within the frame limit yet would need
// gigabytes of segment list (and one more copy per undo state).
constexpr int64_t kMaxRepeatSegments = int64_t{1} << 20;

struct Range {
    int32_t start = 0;
    int32_t end = 0;
};

int32_t ClampToLength(const SoundDocument& document, int64_t position) {
    return static_cast<int32_t>(std::clamp<int64_t>(position, 0, document.Length()));
}

// The selection ordered and limited to the document: a stale selection
// (from before the document shrank, or set by hand) never reaches the clip
// operations, whose rules for positions outside the clip pad with silence.
Range ClampedSelection(const SoundDocument& document) {
    const int32_t a = std::min(document.selectionStart, document.selectionEnd);
    const int32_t b = std::max(document.selectionStart, document.selectionEnd);
    return {ClampToLength(document, a), ClampToLength(document, b)};
}

// Preroll of FinishEdit: "1 s" is the document's rate in frames.
int32_t OneSecond(const SoundDocument& document) {
    return static_cast<int32_t>(std::min<int64_t>(document.clip.SampleRate(), kMaxFrames));
}

int32_t HalfSecond(const SoundDocument& document) {
    return OneSecond(document) / 2;
}

int32_t InsertPoint(const SoundDocument& document, InsertPosition where) {
    switch (where) {
        case InsertPosition::Begin:
            return 0;
        case InsertPosition::Current:
            return ClampToLength(document, document.cursor);
        case InsertPosition::End:
            break;
    }
    return document.Length();
}

bool SameFormat(const AudioClip& clip, const SoundDocument& document) {
    return clip.SampleRate() == document.clip.SampleRate() && clip.Channels() == document.clip.Channels();
}

void Finish(SoundDocument& document, int32_t cursor, int32_t preroll, EditContext& ctx) {
    FinishEdit(document, cursor, preroll, ctx.host, ctx.settings);
}

// Trim Start and Trim End leave the selection's values where they were, as
// far as the shorter document still reaches.
void KeepSelectionWithinDocument(SoundDocument& document, DocumentHost& host) {
    const int32_t start = ClampToLength(document, document.selectionStart);
    const int32_t end = ClampToLength(document, document.selectionEnd);
    SetSelection(document, start, end, 0, host);
}

// FramesFromMilliseconds without its saturation, so that a time too long
// for any clip is seen as such.
int64_t FramesFromMillisecondsUnlimited(int32_t milliseconds, int32_t sampleRate) {
    return int64_t{milliseconds} / 1000 * sampleRate + int64_t{milliseconds} % 1000 * sampleRate / 1000;
}

}  // namespace

// ---------------------------------------------------------------------------
// Selection

void SelectAllIfNone(SoundDocument& document, DocumentHost& host) {
    if (!document.HasSelection()) SelectAll(document, host);
}

void SelectAll(SoundDocument& document, DocumentHost& host) {
    document.viewStart = 0;
    document.viewEnd = document.Length();
    SetSelection(document, 0, document.Length(), document.cursor, host);
}

void SelectToStart(SoundDocument& document, DocumentHost& host) {
    const int32_t cursor = ClampToLength(document, document.cursor);
    SetSelection(document, 0, cursor, cursor, host);
}

void SelectToEnd(SoundDocument& document, DocumentHost& host) {
    const int32_t cursor = ClampToLength(document, document.cursor);
    SetSelection(document, cursor, document.Length(), cursor, host);
}

void SelectFrames(SoundDocument& document, int32_t start, int32_t end, DocumentHost& host) {
    const int32_t a = ClampToLength(document, std::min(start, end));
    const int32_t b = ClampToLength(document, std::max(start, end));
    SetSelection(document, a, b, a, host);
}

void SetCursor(SoundDocument& document, int32_t position, DocumentHost& host) {
    // An empty selection at the cursor: Paste and the trims then work at
    // the cursor.
    const int32_t p = ClampToLength(document, position);
    SetSelection(document, p, p, p, host);
}

// ---------------------------------------------------------------------------
// Clipboard

bool EditCut(SoundDocument& document, AudioClip& clipboard, EditContext& ctx) {
    SelectAllIfNone(document, ctx.host);
    ctx.host.StopPlayback();
    BeginEdit(document, "Cut", ctx.host);
    const Range sel = ClampedSelection(document);
    ClipCut(clipboard, document.clip, sel.start, sel.end);
    SetSelection(document, sel.start, sel.start, sel.start, ctx.host);
    Finish(document, sel.start, OneSecond(document), ctx);
    return true;
}

bool EditCopy(SoundDocument& document, AudioClip& clipboard, EditContext& ctx) {
    SelectAllIfNone(document, ctx.host);
    const Range sel = ClampedSelection(document);
    ClipExtract(clipboard, document.clip, sel.start, sel.end);
    ctx.host.AnnounceClipboard();
    ctx.host.CommandStatesChanged(document);
    return true;
}

int32_t EditPaste(SoundDocument& document, const AudioClip& source, EditContext& ctx) {
    ctx.host.StopPlayback();
    BeginEdit(document, "Paste", ctx.host);
    const Range sel = ClampedSelection(document);
    const auto rate = static_cast<int32_t>(std::min<int64_t>(document.clip.SampleRate(), kMaxFrames));
    const int channels = document.clip.Channels();
    // Taken now: the source may be the document's own clip.
    const auto sourceRate = static_cast<int32_t>(std::min<int64_t>(source.SampleRate(), kMaxFrames));
    const int32_t sourceLength = source.Length();

    FunctionTask task("Paste", [&](ProgressTask& self) -> int32_t {
        // An empty source has no samples to convert.
        if (source.Empty() || SameFormat(source, document)) {
            return ClipReplaceRange(document.clip, sel.start, sel.end, source) ? kTaskDone : kTaskFailed;
        }
        AudioClip converted = source;
        const int32_t converting = ConvertClip(self, converted, rate, channels);
        if (converting != kTaskDone) return converting;
        return ClipReplaceRange(document.clip, sel.start, sel.end, converted) ? kTaskDone : kTaskFailed;
    });
    const int32_t result = RunTask(task, ctx.tasks);
    if (result != kTaskDone) return result;

    // The pasted length, through milliseconds when the rates differ. At the
    // same rate the length is known exactly; the round trip through whole
    // milliseconds would leave up to a millisecond of the pasted material
    // out of the selection.
    const int32_t pasted =
        sourceRate == rate ? sourceLength
                           : FramesFromMilliseconds(MillisecondsFromFrames(sourceLength, sourceRate), rate);
    const int32_t end = ClampToLength(document, int64_t{sel.start} + pasted);
    SetSelection(document, sel.start, end, document.cursor, ctx.host);
    Finish(document, sel.start, HalfSecond(document), ctx);
    return kTaskDone;
}

// ---------------------------------------------------------------------------
// Delete, trims, silence

bool EditDelete(SoundDocument& document, EditContext& ctx) {
    if (!document.HasSelection()) return false;
    ctx.host.StopPlayback();
    BeginEdit(document, "Delete", ctx.host);
    const Range sel = ClampedSelection(document);
    ClipDeleteRange(document.clip, sel.start, sel.end);
    SetSelection(document, sel.start, sel.start, sel.start, ctx.host);
    Finish(document, sel.start, OneSecond(document), ctx);
    return true;
}

bool EditTrim(SoundDocument& document, EditContext& ctx) {
    SelectAllIfNone(document, ctx.host);
    ctx.host.StopPlayback();
    BeginEdit(document, "Trim", ctx.host);
    const Range sel = ClampedSelection(document);
    ClipCrop(document.clip, sel.start, sel.end);
    SetSelection(document, 0, 0, 0, ctx.host);
    Finish(document, 0, 0, ctx);
    return true;
}

bool EditTrimStart(SoundDocument& document, EditContext& ctx) {
    ctx.host.StopPlayback();
    BeginEdit(document, "Trim Start", ctx.host);
    ClipDeleteRange(document.clip, 0, ClampedSelection(document).start);
    KeepSelectionWithinDocument(document, ctx.host);
    Finish(document, 0, 0, ctx);
    return true;
}

bool EditTrimEnd(SoundDocument& document, EditContext& ctx) {
    ctx.host.StopPlayback();
    BeginEdit(document, "Trim End", ctx.host);
    ClipDeleteRange(document.clip, ClampedSelection(document).end, document.Length());
    KeepSelectionWithinDocument(document, ctx.host);
    Finish(document, 0, 0, ctx);
    return true;
}

bool EditSilenceSelection(SoundDocument& document, EditContext& ctx) {
    ctx.host.StopPlayback();
    BeginEdit(document, "Edit Silence", ctx.host);
    const Range sel = ClampedSelection(document);
    ClipDeleteRange(document.clip, sel.start, sel.end);
    ClipInsertSilence(document.clip, sel.end - sel.start, sel.start);
    Finish(document, sel.start, OneSecond(document), ctx);
    return true;
}

// ---------------------------------------------------------------------------
// Repeat and inserts

bool EditRepeatLoop(SoundDocument& document, const RepeatSettings& settings, EditContext& ctx) {
    if (settings.Validate()) return false;
    const Range sel = document.HasSelection() ? ClampedSelection(document) : Range{0, document.Length()};

    // A repeat the clip cannot hold leaves the document, its undo ring and
    // its modified flag as they were.
    if (document.Length() + int64_t{settings.times} * (sel.end - sel.start) > kMaxFrames) return false;
    AudioClip extract;
    ClipExtract(extract, document.clip, sel.start, sel.end);
    if (int64_t{settings.times} * static_cast<int64_t>(extract.Segments().size()) > kMaxRepeatSegments)
        return false;
    // Tried on a copy of the list (no samples are copied), so that nothing
    // has changed should the clip still refuse.
    AudioClip repeated = document.clip;
    if (!ClipRepeat(repeated, sel.start, sel.end, settings.times)) return false;

    SelectAllIfNone(document, ctx.host);
    BeginEdit(document, "Repeat Loop", ctx.host);
    document.clip = std::move(repeated);
    Finish(document, sel.start, OneSecond(document), ctx);
    // The first copy stays selected, ready for another repeat or a cut.
    SetSelection(document, sel.start, sel.end, document.cursor, ctx.host);
    return true;
}

bool EditInsertSilence(SoundDocument& document, InsertPosition where, const SilenceSettings& settings,
                       EditContext& ctx) {
    if (settings.Validate()) return false;
    // A silence the clip cannot hold is refused before anything changes.
    const int64_t frames = FramesFromMillisecondsUnlimited(settings.milliseconds, OneSecond(document));
    if (document.Length() + frames > kMaxFrames) return false;
    ctx.host.StopPlayback();
    BeginEdit(document, InsertSilenceUndoName(where), ctx.host);
    ClipInsertSilence(document.clip, static_cast<int32_t>(frames), InsertPoint(document, where));
    Finish(document, ClampedSelection(document).start, OneSecond(document), ctx);
    return true;
}

int32_t EditInsertFile(SoundDocument& document, InsertPosition where, const std::string& path,
                       EditContext& ctx) {
    ctx.host.StopPlayback();
    AudioClip loaded;
    FunctionTask load("Loading Audio File Source",
                      [&](ProgressTask& self) { return LoadFileIntoClip(self, path, loaded); });
    const int32_t loading = RunTask(load, ctx.tasks);
    if (loading != kTaskDone) return loading;

    BeginEdit(document, InsertFileUndoName(where), ctx.host);
    const auto rate = static_cast<int32_t>(std::min<int64_t>(document.clip.SampleRate(), kMaxFrames));
    const int channels = document.clip.Channels();
    FunctionTask insert("Insert File", [&](ProgressTask& self) -> int32_t {
        if (!loaded.Empty()) {
            const int32_t converting = ConvertClip(self, loaded, rate, channels);
            if (converting != kTaskDone) return converting;
        }
        return ClipInsert(document.clip, InsertPoint(document, where), loaded) ? kTaskDone : kTaskFailed;
    });
    const int32_t result = RunTask(insert, ctx.tasks);
    if (result != kTaskDone) return result;
    Finish(document, ClampedSelection(document).start, OneSecond(document), ctx);
    return kTaskDone;
}

std::string InsertSilenceUndoName(InsertPosition where) {
    switch (where) {
        case InsertPosition::Begin:
            return "Insert Silence At The Start";
        case InsertPosition::Current:
            return "Insert Silence At Current Position";
        case InsertPosition::End:
            break;
    }
    return "Insert Silence At The End";
}

std::string InsertFileUndoName(InsertPosition where) {
    switch (where) {
        case InsertPosition::Begin:
            return "Insert File At Beginning";
        case InsertPosition::Current:
            return "Insert File At Current Position";
        case InsertPosition::End:
            break;
    }
    return "Insert File At The End";
}

// ---------------------------------------------------------------------------
// The two marks

void MarkFirstPosition(SoundDocument& document, DocumentHost& host) {
    document.firstMark = document.cursor;
    RecallMarkSelection(document, host);
}

void MarkSecondPosition(SoundDocument& document, DocumentHost& host) {
    document.secondMark = document.cursor;
    RecallMarkSelection(document, host);
}

void RecallMarkSelection(SoundDocument& document, DocumentHost& host) {
    const bool wasPlaying = host.IsPlaying();
    host.StopPlayback();
    // Marks set before the document shrank may lie past its end.
    const int32_t first = ClampToLength(document, document.firstMark);
    const int32_t second = ClampToLength(document, document.secondMark);
    SetSelection(document, first, second, first, host);
    // Playing with a selection starts at its start.
    if (wasPlaying) host.StartPlayback(document, document.selectionStart);
}

}  // namespace sonitor
