// `sonitor-cli edit`: opens a file into a document, runs Edit menu commands
// on it through the same session object the editor uses, and saves the
// result (and any documents the commands made) in the format of OUT.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/TerminalTaskHost.h"
#include "document/ClipReader.h"
#include "document/DocumentHost.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "edit/EditSettings.h"
#include "edit/EditorSession.h"
#include "formats/export/ExportDispatcher.h"
#include "formats/export/SaveDocument.h"
#include "foundation/FileUtil.h"
#include "foundation/Numbers.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"
#include "foundation/WorkingFolder.h"

namespace sonitor::cli {
namespace {

const char kEditHelp[] =
    "Usage: sonitor-cli edit IN OUT [COMMAND [ARG...]]...\n"
    "\n"
    "Opens IN, applies the commands in order, and saves the result to OUT in the\n"
    "format of its extension. Nothing is written unless every command succeeded,\n"
    "and an existing file is replaced only once its new contents are complete.\n"
    "Documents that split, auto-split and copy-to-new create are\n"
    "saved beside OUT as \"NAME (1).EXT\", \"NAME (2).EXT\", ... in the order they\n"
    "were made. Times are milliseconds; the cursor moves as in the editor with\n"
    "automatic playback after edits turned off.\n"
    "\n"
    "Selection and cursor:\n"
    "  select START:END       select [START, END)\n"
    "  select-all             select the whole document\n"
    "  select-to-start        select from 0 to the cursor\n"
    "  select-to-end          select from the cursor to the end\n"
    "  cursor MS              move the cursor there and drop the selection\n"
    "  mark1, mark2           set the first or second mark to the cursor and\n"
    "                         select between the marks\n"
    "  recall-marks           select between the two marks again\n"
    "\n"
    "Edits (without a selection, cut, copy, trim and reverse take everything):\n"
    "  cut, copy, paste       through the program's clipboard\n"
    "  delete                 delete the selection\n"
    "  trim                   keep only the selection\n"
    "  trim-start, trim-end   delete before the selection start / after its end\n"
    "  auto-trim [DB]         trim quiet ends (threshold in dB, -127..127)\n"
    "  silence                silence the selection\n"
    "  insert-silence begin|cursor|end MS\n"
    "  insert-file begin|cursor|end FILE\n"
    "  paste-mix [VOLUME [MODE [PAN]]]\n"
    "  mix-file FILE [VOLUME [MODE [PAN]]]\n"
    "                         mix the clipboard or FILE into the selection:\n"
    "                         VOLUME percent (at most 100), PAN 0..100 (50 is\n"
    "                         the centre; stereo only); MODE says what happens\n"
    "                         when the mix is longer than the selection:\n"
    "                         insert (silence is inserted), extend (the mix\n"
    "                         runs on over what follows) or fade[:FRAMES]\n"
    "                         (the mix fades out over FRAMES frames)\n"
    "  repeat N               add N copies of the selection after it\n"
    "  reverse                reverse the selection\n"
    "  undo, redo\n"
    "\n"
    "New documents:\n"
    "  copy-to-new            the selection becomes a new document\n"
    "  split                  the audio from the cursor on becomes a new\n"
    "                         document\n"
    "  auto-split [DB [MS]]   one document per stretch of sound, split where\n"
    "                         the level stays below DB for at least MS; the\n"
    "                         first becomes the document later commands edit\n"
    "                         and is saved to OUT\n"
    "\n"
    "The files written are listed on standard output. Values left out come\n"
    "from the editor's remembered values. Exit status: 0\n"
    "done, 1 a command or the save failed (nothing written), 2 bad usage,\n"
    "130 interrupted.\n";

enum class StepResult { Done, Unchanged, Failed, Cancelled };

// What the steps work on: the session and the document the commands edit.
struct EditRun {
    EditorSession& session;
    TerminalTaskHost& tasks;
    Ref<SoundDocument> document;

    SoundDocument& Doc() { return *document; }
    int32_t Frames(int64_t ms) {
        return FramesFromMilliseconds(ms, static_cast<int32_t>(Doc().clip.SampleRate()));
    }
    StepResult FromTask(int32_t result) {
        if (result == kTaskDone) return StepResult::Done;
        return result == kTaskCancelled || tasks.Interrupted() ? StepResult::Cancelled : StepResult::Failed;
    }
    static StepResult FromChange(bool changed) { return changed ? StepResult::Done : StepResult::Unchanged; }
    // Commands that make documents leave the new one active, as the editor
    // does; here the edited document stays the one the next command sees.
    void KeepActive() { session.Activate(document.Get()); }
};

struct Step {
    std::string text;  // the command as given, for messages
    std::function<StepResult(EditRun&)> run;
};

bool ParseInteger(const std::string& text, int64_t low, int64_t high, int64_t& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

bool ParsePosition(const std::string& text, InsertPosition& where) {
    if (text == "begin")
        where = InsertPosition::Begin;
    else if (text == "cursor")
        where = InsertPosition::Current;
    else if (text == "end")
        where = InsertPosition::End;
    else
        return false;
    return true;
}

// "insert", "extend", "fade" or "fade:FRAMES" (or the stored numbers 0, 1, 2).
bool ParseMixMode(const std::string& text, MixSettings& mix) {
    if (text == "insert" || text == "0") {
        mix.overflowMode = MixSettings::kInsertSilence;
    } else if (text == "extend" || text == "1") {
        mix.overflowMode = MixSettings::kIncreaseSelection;
    } else if (text == "fade" || text == "2") {
        mix.overflowMode = MixSettings::kFadeOutMix;
    } else if (text.rfind("fade:", 0) == 0) {
        int64_t frames = 0;
        if (!ParseInteger(text.substr(5), 0, INT32_MAX, frames)) return false;
        mix.overflowMode = MixSettings::kFadeOutMix;
        mix.fadeOutFrames = static_cast<int32_t>(frames);
    } else {
        return false;
    }
    return true;
}

const std::vector<std::string>& CommandNames() {
    static const std::vector<std::string> names = {"select",        "select-all",   "select-to-start",
                                                   "select-to-end", "cursor",       "cut",
                                                   "copy",          "paste",        "delete",
                                                   "trim",          "trim-start",   "trim-end",
                                                   "auto-trim",     "silence",      "insert-silence",
                                                   "insert-file",   "paste-mix",    "mix-file",
                                                   "repeat",        "reverse",      "mark1",
                                                   "mark2",         "recall-marks", "copy-to-new",
                                                   "split",         "auto-split",   "undo",
                                                   "redo"};
    return names;
}

bool IsCommandName(const std::string& word) {
    for (const std::string& name : CommandNames())
        if (name == word) return true;
    return false;
}

// Turns the words after IN and OUT into steps, checking every value before
// anything is opened. On failure, error says why.
class StepParser {
public:
    StepParser(const std::vector<std::string>& words, const SettingsStore& settings)
        : words_(words), settings_(settings) {}

    bool Parse(std::vector<Step>& steps, std::string& error) {
        while (at_ < words_.size()) {
            const std::string name = words_[at_++];
            if (!IsCommandName(name)) {
                error = Format("unknown command '%s'", name.c_str());
                return false;
            }
            std::string why;
            Step step{name, nullptr};
            const size_t first = at_;
            if (!ParseOne(name, step, why)) {
                error = name + ": " + why;
                return false;
            }
            for (size_t i = first; i < at_; ++i)
                step.text += " " + words_[i];
            steps.push_back(std::move(step));
        }
        return true;
    }

private:
    bool Next(std::string& word) {
        if (at_ >= words_.size()) return false;
        word = words_[at_++];
        return true;
    }
    // An optional argument: the next word when it is not another command.
    bool NextOptional(std::string& word) {
        if (at_ >= words_.size() || IsCommandName(words_[at_])) return false;
        word = words_[at_++];
        return true;
    }
    static bool Refused(const std::optional<InvalidValue>& invalid, std::string& why) {
        if (!invalid) return false;
        why = invalid->text;
        return true;
    }

    bool ParseOne(const std::string& name, Step& step, std::string& why) {
        std::string word;
        if (name == "select") {
            const size_t colon = Next(word) ? word.find(':') : std::string::npos;
            int64_t a = 0;
            int64_t b = 0;
            if (colon == std::string::npos || !ParseInteger(word.substr(0, colon), 0, INT32_MAX, a) ||
                !ParseInteger(word.substr(colon + 1), 0, INT32_MAX, b)) {
                why = "takes START:END in milliseconds";
                return false;
            }
            step.run = [a, b](EditRun& r) {
                SelectFrames(r.Doc(), r.Frames(a), r.Frames(b), r.session.Host());
                return StepResult::Done;
            };
        } else if (name == "cursor") {
            int64_t ms = 0;
            if (!Next(word) || !ParseInteger(word, 0, INT32_MAX, ms)) {
                why = "takes a position in milliseconds";
                return false;
            }
            step.run = [ms](EditRun& r) {
                SetCursor(r.Doc(), r.Frames(ms), r.session.Host());
                return StepResult::Done;
            };
        } else if (name == "select-all" || name == "select-to-start" || name == "select-to-end" ||
                   name == "mark1" || name == "mark2" || name == "recall-marks") {
            using Command = void (*)(SoundDocument&, DocumentHost&);
            const Command command = name == "select-all"        ? SelectAll
                                    : name == "select-to-start" ? SelectToStart
                                    : name == "select-to-end"   ? SelectToEnd
                                    : name == "mark1"           ? MarkFirstPosition
                                    : name == "mark2"           ? MarkSecondPosition
                                                                : RecallMarkSelection;
            step.run = [command](EditRun& r) {
                command(r.Doc(), r.session.Host());
                return StepResult::Done;
            };
        } else if (name == "cut") {
            step.run = [](EditRun& r) {
                return EditRun::FromChange(EditCut(r.Doc(), r.session.Clipboard(), r.session.Context()));
            };
        } else if (name == "copy") {
            step.run = [](EditRun& r) {
                return EditRun::FromChange(EditCopy(r.Doc(), r.session.Clipboard(), r.session.Context()));
            };
        } else if (name == "paste") {
            step.run = [](EditRun& r) {
                return r.FromTask(EditPaste(r.Doc(), r.session.Clipboard(), r.session.Context()));
            };
        } else if (name == "delete" || name == "trim" || name == "trim-start" || name == "trim-end" ||
                   name == "silence") {
            using Command = bool (*)(SoundDocument&, EditContext&);
            const Command command = name == "delete"       ? EditDelete
                                    : name == "trim"       ? EditTrim
                                    : name == "trim-start" ? EditTrimStart
                                    : name == "trim-end"   ? EditTrimEnd
                                                           : EditSilenceSelection;
            step.run = [command](EditRun& r) {
                return EditRun::FromChange(command(r.Doc(), r.session.Context()));
            };
        } else if (name == "auto-trim") {
            AutoTrimSettings trim = AutoTrimSettings::Load(settings_);
            int64_t db = 0;
            if (NextOptional(word)) {
                if (!ParseInteger(word, -127, 127, db)) {
                    why = "the threshold is a whole number of decibels from -127 to 127";
                    return false;
                }
                trim.thresholdDb = static_cast<int32_t>(db);
            }
            step.run = [trim](EditRun& r) {
                return r.FromTask(EditAutoTrim(r.Doc(), trim, r.session.Context()));
            };
        } else if (name == "insert-silence") {
            InsertPosition where{};
            int64_t ms = 0;
            if (!Next(word) || !ParsePosition(word, where)) {
                why = "takes begin, cursor or end, then a length in milliseconds";
                return false;
            }
            if (!Next(word) || !ParseInteger(word, INT32_MIN, INT32_MAX, ms)) {
                why = "takes a length in milliseconds after the position";
                return false;
            }
            SilenceSettings silence;
            silence.milliseconds = static_cast<int32_t>(ms);
            if (Refused(silence.Validate(), why)) return false;
            step.run = [where, silence](EditRun& r) {
                return EditRun::FromChange(EditInsertSilence(r.Doc(), where, silence, r.session.Context()));
            };
        } else if (name == "insert-file") {
            InsertPosition where{};
            std::string path;
            if (!Next(word) || !ParsePosition(word, where) || !Next(path)) {
                why = "takes begin, cursor or end, then a file";
                return false;
            }
            step.run = [where, path](EditRun& r) {
                return r.FromTask(EditInsertFile(r.Doc(), where, path, r.session.Context()));
            };
        } else if (name == "paste-mix" || name == "mix-file") {
            std::string path;
            if (name == "mix-file" && !Next(path)) {
                why = "takes a file";
                return false;
            }
            MixSettings mix = MixSettings::Load(settings_);
            mix.pan = 50;
            int64_t value = 0;
            if (NextOptional(word)) {
                if (!ParseInteger(word, INT32_MIN, INT32_MAX, value)) {
                    why = Format("'%s' is not a volume in percent", word.c_str());
                    return false;
                }
                mix.volume = static_cast<int32_t>(value);
                if (NextOptional(word)) {
                    if (!ParseMixMode(word, mix)) {
                        why = Format("'%s' is not insert, extend, fade or fade:FRAMES", word.c_str());
                        return false;
                    }
                    if (NextOptional(word)) {
                        if (!ParseInteger(word, INT32_MIN, INT32_MAX, value)) {
                            why = Format("'%s' is not a pan position", word.c_str());
                            return false;
                        }
                        mix.pan = static_cast<int32_t>(value);
                    }
                }
            }
            if (Refused(mix.Validate(), why)) return false;
            if (name == "paste-mix") {
                step.run = [mix](EditRun& r) {
                    return r.FromTask(EditPasteMix(r.Doc(), r.session.Clipboard(), mix, r.session.Context()));
                };
            } else {
                step.run = [mix, path](EditRun& r) {
                    return r.FromTask(EditMixFile(r.Doc(), path, mix, r.session.Context()));
                };
            }
        } else if (name == "repeat") {
            int64_t times = 0;
            if (!Next(word) || !ParseInteger(word, INT32_MIN, INT32_MAX, times)) {
                why = "takes a number of copies";
                return false;
            }
            RepeatSettings repeat;
            repeat.times = static_cast<int32_t>(times);
            if (Refused(repeat.Validate(), why)) return false;
            step.run = [repeat](EditRun& r) {
                return EditRun::FromChange(EditRepeatLoop(r.Doc(), repeat, r.session.Context()));
            };
        } else if (name == "reverse") {
            step.run = [](EditRun& r) { return r.FromTask(EditReverse(r.Doc(), r.session.Context())); };
        } else if (name == "undo" || name == "redo") {
            const bool undo = name == "undo";
            step.run = [undo](EditRun& r) {
                return EditRun::FromChange(undo ? UndoEdit(r.Doc(), r.session.Host())
                                                : RedoEdit(r.Doc(), r.session.Host()));
            };
        } else if (name == "copy-to-new" || name == "split") {
            const bool split = name == "split";
            step.run = [split](EditRun& r) {
                const Ref<SoundDocument> made = split ? r.session.SplitAtCursor() : r.session.CopyToNew();
                r.KeepActive();
                return EditRun::FromChange(static_cast<bool>(made));
            };
        } else if (name == "auto-split") {
            AutoSplitSettings autoSplit = AutoSplitSettings::Load(settings_);
            int64_t value = 0;
            if (NextOptional(word)) {
                if (!ParseInteger(word, -127, 127, value)) {
                    why = "the threshold is a whole number of decibels from -127 to 127";
                    return false;
                }
                autoSplit.thresholdDb = static_cast<int32_t>(value);
                if (NextOptional(word)) {
                    if (!ParseInteger(word, INT32_MIN, INT32_MAX, value)) {
                        why = "the duration is a number of milliseconds";
                        return false;
                    }
                    autoSplit.durationMs = static_cast<int32_t>(value);
                }
            }
            if (Refused(autoSplit.Validate(), why)) return false;
            step.run = [autoSplit](EditRun& r) {
                // The editor saves a changed document first so that the parts
                // come from a file on disk. Here every document is written at
                // the end, and saving now would write over IN.
                r.Doc().modified = false;
                const std::vector<Ref<SoundDocument>> parts = r.session.AutoSplit(autoSplit);
                if (r.tasks.Interrupted()) return StepResult::Cancelled;
                if (parts.empty()) {
                    r.KeepActive();
                    return StepResult::Unchanged;
                }
                r.document = parts.front();
                r.KeepActive();
                return StepResult::Done;
            };
        }
        return true;
    }

    const std::vector<std::string>& words_;
    const SettingsStore& settings_;
    size_t at_ = 0;
};

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::string cwd(4096, '\0');
    if (getcwd(cwd.data(), cwd.size()) == nullptr) return path;
    cwd.resize(std::char_traits<char>::length(cwd.c_str()));
    return JoinPath(cwd, path);
}

// "<OUT stem> (n)<OUT ext>" beside OUT.
std::string ExtraOutputPath(const std::string& out, int n) {
    const std::string name = FileNamePart(out);
    const std::string extension = ExtensionPart(name);
    const std::string stem = name.substr(0, name.size() - extension.size());
    return JoinPath(DirectoryPart(out), Format("%s (%d)%s", stem.c_str(), n, extension.c_str()));
}

// The user's settings with automatic playback after edits turned off: with
// nothing to play, the cursor must stay where the edit put it instead of
// stepping back for a pre-roll. The copy lives in the private working
// folder, so nothing the user keeps is changed.
SettingsStore PrivateSettings() {
    SettingsStore store = PrivateSettingsCopy("edit-settings.ini");
    store.WriteBool("Settings", "AutoPlaybackAfterEffects", false);
    return store;
}

int32_t SaveOne(SoundDocument& document, const std::string& path, const SettingsStore& settings,
                TaskHost& tasks, std::string& message) {
    ExportOptions options;
    options.settings = &settings;
    FunctionTask task("Saving " + FileNamePart(path), [&](ProgressTask& t) {
        options.cancelled = [&t] { return PumpTaskMessages(t); };
        const SaveOutcome saved = SaveAudio(t, OpenClipReader(document.clip), path,
                                            document.tags.empty() ? nullptr : &document.tags, options);
        message = saved.message;
        return saved.result;
    });
    return RunTask(task, tasks);
}

}  // namespace

int RunEdit(const std::vector<std::string>& args) {
    if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
        std::fputs(kEditHelp, stdout);
        return kExitOk;
    }
    if (args.size() < 2) {
        std::fputs("usage: sonitor-cli edit IN OUT [COMMAND [ARG...]]...\nTry 'sonitor-cli edit --help'.\n",
                   stderr);
        return kExitUsage;
    }
    const std::string& in = args[0];
    const std::string out = AbsolutePath(args[1]);
    if (!ExportFormatFor(out)) {
        std::fprintf(stderr, "sonitor-cli edit: cannot write files of the type of \"%s\"\n", args[1].c_str());
        return kExitUsage;
    }
    std::vector<Step> steps;
    {
        const std::vector<std::string> words(args.begin() + 2, args.end());
        std::string error;
        if (!StepParser(words, Settings()).Parse(steps, error)) {
            std::fprintf(stderr, "sonitor-cli edit: %s\nTry 'sonitor-cli edit --help'.\n", error.c_str());
            return kExitUsage;
        }
    }

    const SettingsStore settings = PrivateSettings();
    TerminalTaskHost tasks;
    HeadlessDocumentHost host(true);
    EditorSession session(host, tasks, settings);
    EditRun run{session, tasks, session.OpenDocument(in)};
    if (!run.document) {
        if (tasks.Interrupted()) return kExitCancelled;
        std::fprintf(stderr, "sonitor-cli edit: could not open \"%s\"; nothing was written\n", in.c_str());
        return kExitFailed;
    }

    for (const Step& step : steps) {
        const StepResult result = step.run(run);
        if (result == StepResult::Cancelled) return kExitCancelled;
        if (result == StepResult::Failed) {
            std::fprintf(stderr, "sonitor-cli edit: '%s' failed; nothing was written\n", step.text.c_str());
            return kExitFailed;
        }
        if (result == StepResult::Unchanged)
            std::fprintf(stderr, "sonitor-cli edit: '%s' changed nothing\n", step.text.c_str());
    }

    // OUT first, then the documents the commands made, oldest first.
    std::vector<std::pair<Ref<SoundDocument>, std::string>> outputs = {{run.document, out}};
    int n = 0;
    for (const Ref<SoundDocument>& document : session.Documents())
        if (document != run.document) outputs.emplace_back(document, ExtraOutputPath(out, ++n));
    for (const auto& [document, path] : outputs) {
        std::string message;
        const int32_t result = SaveOne(*document, path, settings, tasks, message);
        if (result == kTaskCancelled || tasks.Interrupted()) return kExitCancelled;
        if (result != kTaskDone) {
            std::fprintf(
                stderr, "sonitor-cli edit: %s\n",
                message.empty() ? Format("could not write \"%s\"", path.c_str()).c_str() : message.c_str());
            return kExitFailed;
        }
        std::printf("%s\n", path.c_str());
    }
    return kExitOk;
}

}  // namespace sonitor::cli
