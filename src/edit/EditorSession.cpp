#include "edit/EditorSession.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "document/ClipReader.h"
#include "document/DocumentHost.h"
#include "document/ProgressTask.h"
#include "edit/EditOperations.h"
#include "formats/WaveFormat.h"
#include "formats/export/SaveCommands.h"
#include "formats/export/SaveDocument.h"
#include "formats/import/LoadAudioFile.h"
#include "foundation/FileUtil.h"
#include "foundation/Folders.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

constexpr const char* kSaveFirstQuestion =
    "You need to save the file first before performing an auto split on this file. Do you want to save it "
    "now?";
constexpr const char* kNoRegionMessage =
    "Sonitor cannot find any region to split. Please try to lower the silence detection threshold or the "
    "duration then try again.";

// The selection limited to the audio that exists; [0, length) without one.
std::pair<int32_t, int32_t> SelectedRange(const SoundDocument& document) {
    const int32_t length = document.Length();
    if (!document.HasSelection()) return {0, length};
    const int32_t start = std::clamp(document.selectionStart, 0, length);
    const int32_t end = std::clamp(document.selectionEnd, start, length);
    return {start, end};
}

// "name (i).ext" for region i of a document called path.
std::string RegionName(const std::string& path, int index) {
    const std::string name = FileNamePart(path);
    const std::string extension = ExtensionPart(name);
    const std::string stem = name.substr(0, name.size() - extension.size());
    return Format("%s (%d)%s", stem.c_str(), index, extension.c_str());
}

}  // namespace

EditorSession::EditorSession(DocumentHost& host, TaskHost& tasks, const SettingsStore& settings)
    : context_{host, tasks, settings}, clipboard_(44100, 1) {}

// The host may already be tearing its windows down; it is not told again.
EditorSession::~EditorSession() = default;

void EditorSession::Activate(SoundDocument* document) {
    if (!document) {
        active_.Reset();
        return;
    }
    for (const Ref<SoundDocument>& open : documents_) {
        if (open.Get() == document) {
            active_ = open;
            return;
        }
    }
}

std::vector<std::string> EditorSession::OpenNames() const {
    std::vector<std::string> names;
    names.reserve(documents_.size());
    for (const Ref<SoundDocument>& open : documents_)
        names.push_back(open->fileName);
    return names;
}

void EditorSession::AddDocument(const Ref<SoundDocument>& document) {
    if (!document) return;
    if (std::find(documents_.begin(), documents_.end(), document) == documents_.end())
        documents_.push_back(document);
    Host().DocumentOpened(*document);
    active_ = document;
}

void EditorSession::CloseDocument(SoundDocument& document) {
    const auto it = std::find_if(documents_.begin(), documents_.end(),
                                 [&](const Ref<SoundDocument>& open) { return open.Get() == &document; });
    if (it == documents_.end()) return;
    // Keeps the document alive while the host lets go of its windows.
    const Ref<SoundDocument> closing = *it;
    Host().DocumentClosing(document);
    const size_t index = static_cast<size_t>(it - documents_.begin());
    documents_.erase(documents_.begin() + static_cast<std::ptrdiff_t>(index));
    if (active_.Get() != &document) return;
    if (documents_.empty())
        active_.Reset();
    else
        active_ = documents_[std::min(index, documents_.size() - 1)];
}

Ref<SoundDocument> EditorSession::NewDocument() {
    Ref<SoundDocument> document = NewUntitledDocument(OpenNames(), Settings());
    AddDocument(document);
    return document;
}

Ref<SoundDocument> EditorSession::OpenDocument(const std::string& path) {
    // The document joins the open set only once the whole file has arrived.
    Ref<SoundDocument> document = MakeRef<SoundDocument>();
    FunctionTask task("Loading Audio File Source", [&](ProgressTask& t) {
        uint8_t interact = 1;
        return LoadAudioFile(t, *document, path, interact);
    });
    if (RunTask(task, context_.tasks) != kTaskDone) return nullptr;
    AddDocument(document);
    return document;
}

Ref<SoundDocument> EditorSession::CopyToNew() {
    SoundDocument* source = Active();
    if (!source || !source->HasSelection()) return nullptr;
    const auto [start, end] = SelectedRange(*source);
    if (start >= end) return nullptr;
    AudioClip piece;
    if (!ClipExtract(piece, source->clip, start, end)) return nullptr;
    Ref<SoundDocument> document = NewDocumentFromClip(piece, OpenNames());
    AddDocument(document);
    if (Settings().ReadBool("Settings", "AutoArrangeWindows", true)) Host().ArrangeWindows();
    return document;
}

Ref<SoundDocument> EditorSession::SplitAtCursor() {
    // Held here: AddDocument below changes which document is active.
    const Ref<SoundDocument> document = active_;
    if (!document) return nullptr;
    Host().StopPlayback();
    const int32_t length = document->Length();
    const int32_t p = std::clamp(document->cursor, 0, length);
    AudioClip tail;
    if (!ClipExtract(tail, document->clip, p, length)) return nullptr;

    BeginEdit(*document, "Split file at this point", Host());
    ClipTrimEnd(document->clip, p);
    // The selection and cursor may have pointed into the part that left.
    document->selectionStart = std::min(document->selectionStart, p);
    document->selectionEnd = std::min(document->selectionEnd, p);
    document->cursor = p;
    Host().DocumentChanged(*document);

    Ref<SoundDocument> rest = NewDocumentFromClip(tail, OpenNames());
    AddDocument(rest);
    return rest;
}

std::vector<Ref<SoundDocument>> EditorSession::AutoSplit(const AutoSplitSettings& settings) {
    const Ref<SoundDocument> document = active_;
    if (!document) return {};
    UserPrompt& prompt = Host().Prompt();
    if (const std::optional<InvalidValue> invalid = settings.Validate()) {
        prompt.Tell(invalid->title, invalid->text, PromptIcon::Information);
        return {};
    }
    if (document->modified) {
        if (prompt.Ask("Save File", kSaveFirstQuestion, PromptIcon::Question, PromptButtons::YesNo) !=
            PromptAnswer::Yes)
            return {};
        if (!SaveCommand(*document, Host(), context_.tasks, Settings())) return {};
    }
    Host().StopPlayback();

    std::vector<SplitRegion> regions;
    FunctionTask task("Auto Split File", [&](ProgressTask& t) {
        return FindSplitRegions(t, document->clip, settings, regions);
    });
    if (RunTask(task, context_.tasks) != kTaskDone) return {};
    if (regions.size() < 2) {
        prompt.Tell("Auto Split Complete", kNoRegionMessage, PromptIcon::Information);
        return {};
    }

    // The regions come from the clip as it was; closing the document does
    // not free it while we hold it.
    const AudioClip whole = document->clip;
    const std::string name = document->fileName;
    CloseDocument(*document);
    std::vector<Ref<SoundDocument>> parts;
    for (size_t i = 0; i < regions.size(); ++i) {
        AudioClip piece;
        ClipExtract(piece, whole, regions[i].start, regions[i].end);
        Ref<SoundDocument> part = NewDocumentFromClip(piece, OpenNames());
        part->fileName = RegionName(name, static_cast<int>(i));
        part->modified = true;
        AddDocument(part);
        parts.push_back(part);
    }
    return parts;
}

bool EditorSession::SaveSelectionAs() {
    SoundDocument* document = Active();
    if (!document) return false;
    Host().StopPlayback();
    SaveFileDialog dialog;
    dialog.title = "Save Audio File As";
    dialog.filters = {SaveAsFilters().front()};
    dialog.filterIndex = 1;
    dialog.defaultExtension = "wav";
    const std::string name = FileNamePart(document->fileName);
    dialog.fileName = name.substr(0, name.size() - ExtensionPart(name).size());
    for (;;) {
        dialog.folder = Settings().ReadString("Settings", "SaveAsDir", "");
        const std::optional<std::string> chosen = Host().ChooseSaveFile(dialog);
        if (!chosen || chosen->empty()) return false;
        std::string target = *chosen;
        if (ExtensionPart(FileNamePart(target)).empty()) target += ".wav";
        Settings().WriteString("Settings", "SaveAsDir", DirectoryPart(target));
        if (FileExists(target)) {
            const PromptAnswer answer = Host().Prompt().Ask("Sonitor", kReplaceQuestion, PromptIcon::Question,
                                                            PromptButtons::YesNoCancel);
            if (answer == PromptAnswer::No) continue;
            if (answer != PromptAnswer::Yes) return false;
        }
        return SaveSelectionTo(target);
    }
}

bool EditorSession::SaveSelectionTo(const std::string& path) {
    SoundDocument* document = Active();
    if (!document) return false;
    const auto [start, end] = SelectedRange(*document);
    AudioClip piece;
    if (!ClipExtract(piece, document->clip, start, end)) return false;
    ExportOptions options;
    options.settings = &Settings();
    FunctionTask task("Saving...", [&](ProgressTask& t) {
        options.cancelled = [&t] { return PumpTaskMessages(t); };
        return SaveAudio(t, OpenClipReader(piece), path, nullptr, options).result;
    });
    return RunTask(task, context_.tasks) == kTaskDone;
}

bool RenderClipAsWav(const AudioClip& clip, TaskHost& tasks, std::string& bytes) {
    bytes.clear();
    const std::string path = JoinPath(UserDataFolder(), "_clipboard.wav");
    // Other programs get the clip as it is: its own rate and channels in
    // plain 16-bit PCM, whatever wave format the user chose for saving.
    ExportOptions options;
    options.waveFormat =
        MakePcmWaveFormat(clip.SampleRate(), 16, static_cast<uint16_t>(std::max<int>(clip.Channels(), 1)));
    FunctionTask task("Saving to clipboard", [&](ProgressTask& t) {
        return SaveAudio(t, OpenClipReader(clip), path, nullptr, options).result;
    });
    if (RunTask(task, tasks) != kTaskDone) {
        std::remove(path.c_str());
        return false;
    }
    bool ok = false;
    {
        const UniqueFd file =
            OpenFileWithRetry(path, FileAccess::Read, FileShare::Read, FileDisposition::OpenExisting, 1000);
        if (file) {
            const int64_t size = FileSize(file.Get()).value_or(0);
            bytes.resize(static_cast<size_t>(size));
            ok = size > 0 && ReadAt(file.Get(), bytes.data(), bytes.size(), 0) == size;
            if (!ok) bytes.clear();
        }
    }
    std::remove(path.c_str());
    return ok;
}

int32_t TakeWavIntoClip(const std::string& bytes, TaskHost& tasks, AudioClip& clip) {
    if (bytes.empty()) {
        ClipClear(clip);
        return kTaskDone;
    }
    // Left in place afterwards: the next take writes over it.
    const std::string path = JoinPath(UserDataFolder(), "clipboard.wav");
    if (!WriteFileAtomically(path, bytes)) return kTaskFailed;
    FunctionTask task("Loading Audio File Source",
                      [&](ProgressTask& t) { return LoadFileIntoClip(t, path, clip); });
    return RunTask(task, tasks);
}

}  // namespace sonitor
