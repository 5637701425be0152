// Small helpers that every subcommand shares.
#include <cstdio>
#include <cstdlib>

#include "cli/CliCommands.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "formats/import/LoadAudioFile.h"
#include "foundation/FileUtil.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/WorkingFolder.h"

namespace sonitor::cli {

int ExitForTaskResult(int32_t result) {
    return result == kTaskDone ? kExitOk : result == kTaskCancelled ? kExitCancelled : kExitFailed;
}

SettingsStore PrivateSettingsCopy(const char* name) {
    SettingsLocation location = SettingsStore::DefaultLocation();
    const std::string copy = JoinPath(WorkingFolder(), name);
    if (const std::optional<std::string> text = ReadWholeFile(location.userFile))
        WriteFileAtomically(copy, *text);
    location.userFile = copy;
    return SettingsStore(location);
}

int32_t LoadDocument(const char* command, const std::string& in, SoundDocument& document, TaskHost& tasks) {
    uint8_t interact = 1;  // a failure is told once, through the task
    FunctionTask load("Loading " + FileNamePart(in),
                      [&](ProgressTask& t) { return LoadAudioFile(t, document, in, interact); });
    const int32_t loaded = RunTask(load, tasks);
    if (loaded == kTaskFailed && interact != 0)
        std::fprintf(stderr, "sonitor-cli %s: cannot read \"%s\"\n", command, in.c_str());
    return loaded;
}

bool ParseMillisecondRange(const std::string& text, int64_t& start, int64_t& end) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string a = text.substr(0, colon);
    const std::string b = text.substr(colon + 1);
    char* stop = nullptr;
    start = std::strtoll(a.c_str(), &stop, 10);
    if (a.empty() || *stop != '\0' || start < 0) return false;
    end = std::strtoll(b.c_str(), &stop, 10);
    if (b.empty() || *stop != '\0') return false;
    return start < end;
}

}  // namespace sonitor::cli
