#include "formats/export/SaveDocument.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "document/CopySourceToSink.h"
#include "formats/export/PipeEncoderSink.h"
#include "formats/playlists/PlaylistFile.h"
#include "formats/tags/TagIo.h"
#include "foundation/FileUtil.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) return {};
    std::string result = JoinPath(cwd, path);
    free(cwd);
    return result;
}

// A new empty file beside target, hidden, keeping target's extension so that
// the same writer is chosen for it. Empty when it cannot be made.
std::string MakeTemporaryBeside(const std::string& target, const std::string& extension) {
    std::string name = JoinPath(DirectoryPart(target), ".~" + FileNamePart(target) + ".XXXXXX" + extension);
    const int fd = mkstemps(name.data(), static_cast<int>(extension.size()));
    if (fd < 0) return {};
    close(fd);
    return name;
}

// The file takes the permissions a newly created one would have.
void UsualPermissions(const std::string& path) {
    const mode_t mask = umask(0);
    umask(mask);
    chmod(path.c_str(), 0666 & ~mask);
}

SaveOutcome Fail(ProgressTask& task, int32_t result, std::string message) {
    SaveOutcome outcome;
    outcome.result = result;
    if (result == kTaskFailed && !message.empty()) ShowTaskError(task, message);
    outcome.message = std::move(message);
    return outcome;
}

}  // namespace

std::string UnableToCreateMessage(const std::string& path) {
    return Format("Unable to create file \"%s\"for saving.", path.c_str());
}

std::string SaveFailedMessage(const std::string& path) {
    return Format(
        "The file \"%s\" could not be saved. Any existing file of that name has been left unchanged.",
        path.c_str());
}

SaveOutcome SaveAudio(ProgressTask& task, const Ref<AudioSource>& source, const std::string& targetPath,
                      const std::vector<TagEntry>* tags, const ExportOptions& options) {
    const std::optional<ExportFormat> format = ExportFormatFor(targetPath);
    const std::string target = Absolute(targetPath);
    if (!format || target.empty() || !source)
        return Fail(task, kTaskFailed, UnableToCreateMessage(targetPath));

    // A playlist's audio is an MP3 beside it; that is the file we replace.
    const bool playlist = format->route == ExportRoute::Playlist;
    const std::string audioPath = playlist ? Mp3PathForPlaylist(target) : target;
    const std::string temporary =
        MakeTemporaryBeside(audioPath, playlist ? ".mp3" : ExtensionPart(audioPath));
    if (temporary.empty()) return Fail(task, kTaskFailed, UnableToCreateMessage(targetPath));

    ExportOptions sinkOptions = options;
    if (!sinkOptions.cancelled) sinkOptions.cancelled = [&task] { return PumpTaskMessages(task); };
    ExportSink created = CreateExportSink(temporary, source->SampleRate(), source->Channels(), sinkOptions);
    if (created.sink->Failed()) {
        created.sink->Close();
        unlink(temporary.c_str());
        std::string message = UnableToCreateMessage(targetPath);
        if (!created.message.empty()) message += "\n\n" + created.message;
        return Fail(task, kTaskFailed, message);
    }

    int32_t result = CopySourceToSink(task, "Saving file...", source, created.sink);
    // Close in every case: it ends the encoder (at once when cancelled).
    const bool closed = created.sink->Close();
    if (result == kTaskDone && !closed) result = kTaskFailed;
    if (result == kTaskDone) {
        const std::optional<int64_t> size = FileSize(temporary);
        if (!size || *size <= 0) result = kTaskFailed;
    }
    if (result == kTaskFailed && PumpTaskMessages(task)) result = kTaskCancelled;
    if (result != kTaskDone) {
        unlink(temporary.c_str());
        std::string message;
        if (result == kTaskFailed) {
            message = SaveFailedMessage(targetPath);
            // What the encoder said about it, when it said anything.
            if (const auto* encoder = dynamic_cast<const PipeEncoderSink*>(created.sink.Get())) {
                const std::string said = encoder->ErrorText();
                if (!said.empty()) message += "\n\n" + said;
            }
        }
        return Fail(task, result, message);
    }

    UsualPermissions(temporary);
    if (rename(temporary.c_str(), audioPath.c_str()) != 0) {
        unlink(temporary.c_str());
        return Fail(task, kTaskFailed, SaveFailedMessage(targetPath));
    }

    SaveOutcome outcome;
    outcome.result = kTaskDone;
    if (tags != nullptr && !tags->empty() && FileCanHoldTags(audioPath))
        outcome.tagsWritten = WriteTags(audioPath, *tags);

    if (playlist) {
        const SettingsStore& settings = options.settings ? *options.settings : Settings();
        const std::optional<PlaylistKind> kind = PlaylistKindForExtension(ExtensionPart(target));
        if (!kind || !WritePlaylistFile(*kind, target, ReadPlaylistRootUrl(settings),
                                        created.sink->FramesWritten(), created.sink->SampleRate())) {
            return Fail(task, kTaskFailed, UnableToCreateMessage(targetPath));
        }
    }
    return outcome;
}

}  // namespace sonitor
