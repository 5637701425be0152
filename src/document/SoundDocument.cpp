#include "document/SoundDocument.h"

#include <algorithm>

#include "document/DocumentHost.h"
#include "foundation/Folders.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

bool SoundDocument::HasSelection() const {
    if (selectionStart == 0 && selectionEnd == 0) return false;
    return selectionStart < selectionEnd;
}

void SetSelection(SoundDocument& document, int32_t a, int32_t b, int32_t cursor, DocumentHost& host) {
    document.selectionStart = std::min(a, b);
    document.selectionEnd = std::max(a, b);
    document.cursor = cursor;
    host.DocumentChanged(document);
}

void BeginEdit(SoundDocument& document, const std::string& actionName, DocumentHost& host) {
    document.undo.Push(document.CaptureState(), actionName);
    document.modified = true;
    host.CommandStatesChanged(document);
}

std::string LowDiskSpaceMessage(const std::string& documentName) {
    return Format(
        "The last action you performed to the file \"%s\" might not be saved because you have very low free "
        "disk space. Please try saving the file to a different location or making more space by removing "
        "unwanted files then try again.",
        documentName.c_str());
}

void FinishEdit(SoundDocument& document, int32_t newCursor, int32_t preroll, DocumentHost& host,
                const SettingsStore& settings) {
    if (!CheckWorkingFolderSpace(host.Prompt(), LowDiskSpaceMessage(document.fileName))) return;
    document.cursor = newCursor;
    host.DocumentChanged(document);
    if (settings.ReadBool("Settings", "AutoPlaybackAfterEffects", true)) {
        document.cursor = std::max(0, newCursor - std::max(0, preroll));
        host.StartPlayback(document, document.cursor);
    }
}

void FinishEdit(SoundDocument& document, int32_t newCursor, int32_t preroll, DocumentHost& host) {
    FinishEdit(document, newCursor, preroll, host, Settings());
}

bool UndoEdit(SoundDocument& document, DocumentHost& host) {
    if (!document.undo.CanUndo()) return false;
    host.StopPlayback();
    const auto state = document.undo.Undo(document.CaptureState());
    if (!state) return false;
    document.RestoreState(*state);
    host.CommandStatesChanged(document);
    host.DocumentChanged(document);
    return true;
}

bool RedoEdit(SoundDocument& document, DocumentHost& host) {
    if (!document.undo.CanRedo()) return false;
    host.StopPlayback();
    const auto state = document.undo.Redo();
    if (!state) return false;
    document.RestoreState(*state);
    host.CommandStatesChanged(document);
    host.DocumentChanged(document);
    return true;
}

std::string UntitledName(int number) { return Format("Untitled %d", number); }

int NextUntitledNumber(const std::vector<std::string>& openNames) {
    for (int n = 1; n <= 19; ++n) {
        const std::string name = UntitledName(n);
        const bool taken = std::any_of(openNames.begin(), openNames.end(),
                                       [&](const std::string& open) { return EqualsIgnoreCase(open, name); });
        if (!taken) return n;
    }
    return 1;
}

Ref<SoundDocument> NewUntitledDocument(const std::vector<std::string>& openNames, const SettingsStore& settings) {
    const bool selected = settings.ReadBool("Settings", "PromptSampleAndChannels", true);
    int rate = settings.ReadInt("Settings", selected ? "SelectedSampleRate" : "DefaultSampleRate", 44100);
    int channels = settings.ReadInt("Settings", selected ? "SelectedChannels" : "DefaultChannels", 1);
    // A damaged stored value must not give a document no sound card or file
    // format can hold.
    if (rate <= 0) rate = 44100;
    if (channels < 1 || channels > 255) channels = 1;
    auto document = MakeRef<SoundDocument>(static_cast<uint32_t>(rate), static_cast<uint8_t>(channels));
    document->fileName = UntitledName(NextUntitledNumber(openNames));
    return document;
}

Ref<SoundDocument> NewDocumentFromClip(const AudioClip& clip, const std::vector<std::string>& openNames) {
    auto document = MakeRef<SoundDocument>();
    ClipCopy(document->clip, clip);
    document->fileName = UntitledName(NextUntitledNumber(openNames));
    document->modified = true;
    return document;
}

}  // namespace sonitor
