#include "formats/export/SaveCommands.h"

#include <strings.h>

#include <optional>

#include "document/ClipReader.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "formats/export/ExportDispatcher.h"
#include "formats/export/SaveDocument.h"
#include "foundation/FileUtil.h"
#include "foundation/Folders.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

const char* const kRealAudioQuestion =
    "Saving in real audio file format is not supported. Do you want to save in another format (wav, mp3, "
    "gsm, vox) instead?";
const char* const kReplaceQuestion =
    "Another file with the same name already exists. Do you want to replace it?";

namespace {

constexpr const char* kCaption = "Sonitor";

// Untitled documents have a bare "Untitled n" for a name.
bool HasFile(const SoundDocument& document) {
    const std::string& name = document.fileName;
    return !name.empty() && (name.find('/') != std::string::npos || FileExists(name));
}

std::string NameWithoutExtension(const std::string& path) {
    std::string name = FileNamePart(path);
    const std::string extension = ExtensionPart(name);
    return name.substr(0, name.size() - extension.size());
}

// Space check, the task, the second space check, the modified flag. target
// has been settled by the caller.
bool SaveTo(SoundDocument& document, const std::string& target, DocumentHost& host, TaskHost& tasks,
            const SettingsStore& settings) {
    if (!CheckWorkingFolderSpace(host.Prompt(), SaveLowSpaceMessage(target))) return false;
    host.StopPlayback();
    FunctionTask task("Saving file...",
                      [&](ProgressTask& t) { return SaveDocument(t, document, target, settings); });
    if (RunTask(task, tasks) != kTaskDone) return false;
    CheckWorkingFolderSpace(host.Prompt(), SaveMaybeIncompleteMessage(target));
    document.fileName = target;
    document.modified = false;
    host.CommandStatesChanged(document);
    host.DocumentChanged(document);
    return true;
}

}  // namespace

const std::vector<FileDialogFilter>& SaveAsFilters() {
    static const std::vector<FileDialogFilter> filters = {
        {"Wave (*.wav)", "*.wav"},
        {"MPEG Layer-3 (*.mp3)", "*.mp3"},
        {"Ogg Vorbis (*.ogg)", "*.ogg"},
        {"Apple AIFF(*.aif, *.aiff)", "*.aif;*.aiff"},
        {"Sun AU (*.au)", "*.au"},
        {"FLAC (*.flac)", "*.flac"},
        {"AAC (*.aac)", "*.aac"},
        {"MPEG-4 Audio (*.m4a)", "*.m4a"},
        {"GSM (*.gsm)", "*.gsm"},
        {"Dialogic Vox (*.vox)", "*.vox"},
        {"Raw Audio (*.raw)", "*.raw"},
        {"RSS Podcast Audio (*.rss)", "*.rss"},
        {"M3U Playlist File (*.m3u)", "*.m3u"},
        {"PLS Playlist File (*.pls)", "*.pls"},
        {"WPL Playlist File (*.wpl)", "*.wpl"},
        {"AMR Narrowband Audio (*.amr)", "*.amr"},
    };
    return filters;
}

bool IsRealAudioExtension(std::string_view extension) {
    for (const char* real : {".ra", ".ram", ".rm"}) {
        if (extension.size() == std::char_traits<char>::length(real) &&
            strncasecmp(extension.data(), real, extension.size()) == 0)
            return true;
    }
    return false;
}

std::string SaveLowSpaceMessage(const std::string& name) {
    return Format(
        "Cannot save the file \"%s\" because there is not enough free disk space. Please try saving the file "
        "to a different location or making more space by removing unwanted files then try again.",
        name.c_str());
}

std::string SaveMaybeIncompleteMessage(const std::string& name) {
    return Format(
        "The file \"%s\" might not have been saved because you have very low free disk space. Please try "
        "saving the file to a different location or making more space by removing unwanted files then try "
        "again.",
        name.c_str());
}

int32_t SaveDocument(ProgressTask& task, SoundDocument& document, const std::string& target,
                     const SettingsStore& settings) {
    ExportOptions options;
    options.settings = &settings;
    const Ref<AudioSource> source = OpenClipReader(document.clip);
    return SaveAudio(task, source, target, &document.tags, options).result;
}

bool SaveCommand(SoundDocument& document, DocumentHost& host, TaskHost& tasks,
                 const SettingsStore& settings) {
    if (!HasFile(document)) return SaveAsCommand(document, host, tasks, settings);
    if (IsRealAudioExtension(ExtensionPart(document.fileName))) {
        if (host.Prompt().Ask(kCaption, kRealAudioQuestion, PromptIcon::Question, PromptButtons::YesNo) !=
            PromptAnswer::Yes)
            return false;
        return SaveAsCommand(document, host, tasks, settings);
    }
    return SaveTo(document, document.fileName, host, tasks, settings);
}

bool SaveAsCommand(SoundDocument& document, DocumentHost& host, TaskHost& tasks,
                   const SettingsStore& settings) {
    SaveFileDialog dialog;
    dialog.title = "Save Audio File As";
    dialog.filters = SaveAsFilters();
    dialog.filterIndex = 1;
    for (;;) {
        dialog.folder = settings.ReadString("Settings", "SaveAsDir", "");
        dialog.defaultExtension = settings.ReadString("Settings", "SaveAsFormat", "wav");
        dialog.fileName = NameWithoutExtension(document.fileName);
        std::optional<std::string> chosen = host.ChooseSaveFile(dialog);
        if (!chosen || chosen->empty()) return false;
        std::string target = *chosen;
        if (ExtensionPart(FileNamePart(target)).empty() && !dialog.defaultExtension.empty())
            target += "." + dialog.defaultExtension;
        const std::string extension = ExtensionPart(FileNamePart(target));
        settings.WriteString("Settings", "SaveAsDir", DirectoryPart(target));
        settings.WriteString("Settings", "SaveAsFormat",
                             extension.empty() ? std::string() : extension.substr(1));

        if (FileExists(target)) {
            const PromptAnswer answer = host.Prompt().Ask(kCaption, kReplaceQuestion, PromptIcon::Question,
                                                          PromptButtons::YesNoCancel);
            if (answer == PromptAnswer::No) continue;
            if (answer != PromptAnswer::Yes) return false;
        }
        if (IsRealAudioExtension(extension)) {
            if (host.Prompt().Ask(kCaption, kRealAudioQuestion, PromptIcon::Question, PromptButtons::YesNo) ==
                PromptAnswer::Yes)
                continue;
            return false;
        }
        if (!host.ShowFormatOptions(extension, static_cast<int32_t>(document.clip.SampleRate()),
                                    document.clip.Channels()))
            return false;
        return SaveTo(document, target, host, tasks, settings);
    }
}

}  // namespace sonitor
