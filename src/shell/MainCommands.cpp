// The main frame's command dispatch: every command id becomes a call of the
// core (edit operations, effects, the transport, saving) or of a window.
#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QToolButton>

#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "effects/EffectCatalogue.h"
#include "effects/EffectCommand.h"
#include "formats/export/SaveCommands.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "shell/BatchWizard.h"
#include "shell/ClipboardBridge.h"
#include "shell/CommandIds.h"
#include "shell/DocumentWindow.h"
#include "shell/EditDialogs.h"
#include "shell/FileDialogs.h"
#include "shell/MainFrameImpl.h"
#include "shell/ProgressDialog.h"
#include "shell/WaveView.h"

namespace sonitor {

namespace {

using namespace cmd;

InsertPosition PositionOf(int id, int first) {
    switch (id - first) {
        case 0:
            return InsertPosition::Begin;
        case 1:
            return InsertPosition::Current;
        default:
            return InsertPosition::End;
    }
}

}  // namespace

bool MainFrame::Impl::Dispatch(int id) {
    if (id >= kRecentFirst && id <= kRecentLast) {
        const std::string path = recent.Path(id - kRecentBase);
        return !path.empty() && frame.OpenFile(path) != nullptr;
    }
    if (id >= 1000 && id < 2000) return FileCommand(id);
    if (id >= 3000 && id < 4000) return TransportCommand(id);
    if (id >= 5000 && id < 6000) return WindowCommand(id);
    if (id >= 9001 && id <= 9005) return ViewCommand(id);
    if (id == kBatchConverter) return OpenBatchConverter({});
    if (id == kAbout) {
        ModalScope modal(*this);
        QMessageBox::about(&frame, "About Sonitor",
                           QString("Sonitor %1\nAn editor for sound files.").arg(SONITOR_VERSION));
        return true;
    }
    SoundDocument* document = session->Active();
    if (!document) return false;
    if (id >= 2000 && id < 3000) return EditCommand(id, *document);
    if ((id >= kEffectFirst && id <= kEffectLast) || id == kManualClickRepair)
        return EffectCommand(id, *document);
    return false;
}

std::string MainFrame::Impl::ChooseOneFile(const char* folderKey) {
    OpenFileDialog dialog;
    dialog.title = "Open Audio Files";
    dialog.folder = settings.ReadString("Settings", folderKey, "");
    dialog.defaultExtension = "wav";
    dialog.filters = {{"All Files", "*.*"}};
    std::vector<std::string> chosen;
    {
        ModalScope modal(*this);
        chosen = files->ChooseOpenFiles(&frame, dialog);
    }
    if (chosen.empty()) return {};
    settings.WriteString("Settings", folderKey, DirectoryPart(chosen.front()));
    return chosen.front();
}

bool MainFrame::Impl::OpenBatchConverter(const std::string& script) {
    ModalScope modal(*this);
    // The wizard runs the batch under a progress host of its own: one owned
    // by the frame would sit behind the modal wizard, out of reach.
    BatchWizard wizard(&frame, settings, prompt, *files);
    if (!script.empty()) wizard.LoadScript(script);
    return wizard.exec() == QDialog::Accepted;
}

bool MainFrame::Impl::FileCommand(int id) {
    SoundDocument* document = session->Active();
    switch (id) {
        case kNewFile: {
            frame.StopPlayback();
            if (settings.ReadBool("Settings", "PromptSampleAndChannels", true)) {
                NewFileSettings values = NewFileSettings::Load(settings, false);
                ModalScope modal(*this);
                if (!AskNewFile(&frame, "New File", settings, prompt, values)) return false;
            }
            return static_cast<bool>(session->NewDocument());
        }
        case kOpenFile: {
            frame.StopPlayback();
            OpenFileDialog dialog;
            dialog.title = "Open Audio File";
            dialog.folder = settings.ReadString("Settings", "OpenFileDir", "");
            dialog.filters = OpenAudioFilters();
            dialog.multiple = true;
            std::vector<std::string> chosen;
            {
                ModalScope modal(*this);
                chosen = files->ChooseOpenFiles(&frame, dialog);
            }
            if (chosen.empty()) return false;
            settings.WriteString("Settings", "OpenFileDir", DirectoryPart(chosen.front()));
            bool any = false;
            // A file that cannot be opened has been reported; the rest go on.
            for (const std::string& path : chosen)
                any = frame.OpenFile(path) != nullptr || any;
            return any;
        }
        case kCloseFile:
            return document && CloseDocumentAsking(*document);
        case kSaveFile:
            return document && SaveCommand(*document, frame, *tasks, settings);
        case kSaveFileAs:
            return document && SaveAsCommand(*document, frame, *tasks, settings);
        case kConvertToMono:
        case kConvertToStereo: {
            const EffectDefinition* convert = FindEffect("convert-channels");
            if (!document || !convert) return false;
            const EffectValues values{{"Channels", id == kConvertToMono ? "1" : "2"}};
            return ApplyEffectCommand(*document, *convert, values, Context()) == kTaskDone;
        }
        case kExit:
            frame.close();
            return true;
        default:
            return false;
    }
}

bool MainFrame::Impl::EditCommand(int id, SoundDocument& document) {
    EditContext& ctx = Context();
    AudioClip& clip = session->Clipboard();
    const auto mixSettings = [&](const std::string& title, MixSettings& values) {
        values = MixSettings::Load(settings);
        ModalScope modal(*this);
        return AskMix(&frame, title, document.clip.Channels() == 2, document.HasSelection(), settings, prompt,
                      values);
    };
    switch (id) {
        case kUndo:
            return UndoEdit(document, frame);
        case kRedo:
            return RedoEdit(document, frame);
        case kCut:
            return EditCut(document, clip, ctx);
        case kCopy:
            return EditCopy(document, clip, ctx);
        case kPaste:
            return EditPaste(document, clip, ctx) == kTaskDone;
        case kPasteFromSystem: {
            AudioClip pasted;
            if (clipboard->Take(pasted) != kTaskDone) return false;
            return EditPaste(document, pasted, ctx) == kTaskDone;
        }
        case kPasteMix: {
            MixSettings values;
            return mixSettings("Paste Mix", values) && EditPasteMix(document, clip, values, ctx) == kTaskDone;
        }
        case kPasteMixFromSystem: {
            AudioClip pasted;
            if (clipboard->Take(pasted) != kTaskDone) return false;
            MixSettings values;
            return mixSettings("Paste Mix", values) &&
                   EditPasteMix(document, pasted, values, ctx) == kTaskDone;
        }
        case kDelete:
            return EditDelete(document, ctx);
        case kSelectAll:
            SelectAll(document, frame);
            return true;
        case kSelectToStart:
            SelectToStart(document, frame);
            return true;
        case kSelectToEnd:
            SelectToEnd(document, frame);
            return true;
        case kSelectTime: {
            ModalScope modal(*this);
            return AskSelectTime(&frame, document, frame, [this] { transport->Play(); });
        }
        case kMixFile: {
            frame.StopPlayback();
            const std::string path = ChooseOneFile("MixFileDir");
            MixSettings values;
            return !path.empty() && mixSettings("Mix File", values) &&
                   EditMixFile(document, path, values, ctx) == kTaskDone;
        }
        case kRepeatLoop: {
            RepeatSettings values = RepeatSettings::Load(settings);
            ModalScope modal(*this);
            return AskRepeatLoop(&frame, settings, prompt, values) && EditRepeatLoop(document, values, ctx);
        }
        case kTrim:
            return EditTrim(document, ctx);
        case kTrimStart:
            return EditTrimStart(document, ctx);
        case kTrimEnd:
            return EditTrimEnd(document, ctx);
        case kAutoTrim:
            return EditAutoTrim(document, AutoTrimSettings::Load(settings), ctx) == kTaskDone;
        case kSilenceSelection:
            return EditSilenceSelection(document, ctx);
        case kInsertSilenceBegin:
        case kInsertSilenceCurrent:
        case kInsertSilenceEnd: {
            SilenceSettings values = SilenceSettings::Load(settings);
            {
                ModalScope modal(*this);
                if (!AskInsertSilence(&frame, settings, prompt, values)) return false;
            }
            return EditInsertSilence(document, PositionOf(id, kInsertSilenceBegin), values, ctx);
        }
        case kInsertFileBegin:
        case kInsertFileCurrent:
        case kInsertFileEnd: {
            frame.StopPlayback();
            const std::string path = ChooseOneFile("InsertFileDir");
            return !path.empty() &&
                   EditInsertFile(document, PositionOf(id, kInsertFileBegin), path, ctx) == kTaskDone;
        }
        case kCopyToNew:
            return static_cast<bool>(session->CopyToNew());
        case kSaveSelectionAs:
            return session->SaveSelectionAs();
        case kSplitAtCursor:
            return static_cast<bool>(session->SplitAtCursor());
        case kAutoSplit: {
            AutoSplitSettings values = AutoSplitSettings::Load(settings);
            {
                ModalScope modal(*this);
                if (!AskAutoSplit(&frame, settings, prompt, values)) return false;
            }
            return !session->AutoSplit(values).empty();
        }
        case kMarkFirst:
            MarkFirstPosition(document, frame);
            return true;
        case kMarkSecond:
            MarkSecondPosition(document, frame);
            return true;
        case kRecallMarks:
            RecallMarkSelection(document, frame);
            return true;
        default:
            return false;
    }
}

bool MainFrame::Impl::EffectCommand(int id, SoundDocument& document) {
    if (id == kReverse) return EditReverse(document, Context()) == kTaskDone;
    const CommandSpec* spec = Spec(id);
    const EffectDefinition* effect = spec && spec->effect ? FindEffect(spec->effect) : nullptr;
    if (!effect) return false;
    return ApplyEffectCommand(document, *effect, DefaultEffectValues(*effect), Context()) == kTaskDone;
}

bool MainFrame::Impl::TransportCommand(int id) {
    SoundDocument* document = session->Active();
    if (!document) return false;
    if (id == kLoopPlay) {
        transport->ToggleLoopPlay();
        UpdateCommandStates();
        return true;
    }
    SetTransportDocument(document);
    switch (id) {
        case kPlay:
            return transport->Play();
        case kPlaySlow:
            return transport->PlayAtSpeed(PlaySpeed::Slow);
        case kPlayNormal:
            return transport->PlayAtSpeed(PlaySpeed::Normal);
        case kPlayFast:
            return transport->PlayAtSpeed(PlaySpeed::Fast);
        case kStop:
            if (cueKey != 0 || dragCue) {
                dragCue = false;
                EndCue();
            }
            transport->Stop();
            return true;
        case kGoToStart:
            transport->GoToStart();
            return true;
        case kGoToEnd:
            transport->GoToEnd();
            return true;
        case kRewind:
        case kFastForward: {
            const int key = id == kRewind ? Qt::Key_F7 : Qt::Key_F8;
            // Chosen again (from the menu, where no key is released): ends.
            if (cueKey == key) {
                EndCue();
                return true;
            }
            if (cueKey != 0) EndCue();
            cueKey = key;
            qApp->installEventFilter(&frame);
            StartCue(id == kFastForward);
            return true;
        }
        default:
            return false;
    }
}

bool MainFrame::Impl::WindowCommand(int id) {
    if (id == kCascade) {
        frame.mdi_->cascadeSubWindows();
        return true;
    }
    if (id == kTileHorizontal) {
        TileHorizontally();
        return true;
    }
    if (id == kTileVertical) {
        TileVertically();
        return true;
    }
    if (id == kArrangeIcons) {
        ArrangeIcons();
        return true;
    }
    if (id == kCloseAll) {
        frame.StopPlayback();
        for (DocumentWindow* window : frame.DocumentWindows()) {
            if (!CloseDocumentAsking(window->Document())) return false;
        }
        return true;
    }
    DocumentWindow* window = frame.ActiveDocumentWindow();
    if (!window) return false;
    WaveView& view = window->View();
    switch (id) {
        case kZoomIn:
            view.ZoomIn();
            break;
        case kZoomOut:
            view.ZoomOut();
            break;
        case kZoomSelection:
            view.ZoomToSelection();
            break;
        case kZoomFull:
            view.ZoomFull();
            break;
        case kVerticalZoom:
            view.ToggleVerticalZoom();
            break;
        case kDisplayCombined:
            view.SetDisplayMode(0);
            break;
        case kDisplayLeftRight:
            view.SetDisplayMode(1);
            break;
        case kDisplayDual:
            view.SetDisplayMode(2);
            break;
        default:
            return false;
    }
    RefreshStatusFields();
    return true;
}

bool MainFrame::Impl::ViewCommand(int id) {
    const auto toggle = [this](const char* key) {
        settings.WriteBool("Settings", key, !settings.ReadBool("Settings", key, true));
    };
    switch (id) {
        case kShowCommandBar:
            toggle("ShowCommandBar");
            break;
        case kCommandBarLeft:
        case kCommandBarRight:
            settings.WriteBool("Settings", "ShowCommandBarLeft", id == kCommandBarLeft);
            break;
        case kShowMainToolbar:
            toggle("ShowMainToolbar");
            break;
        case kShowEffectsToolbar:
            toggle("ShowEffectsToolbar");
            break;
        default:
            return false;
    }
    ApplyBarFlags();
    return true;
}

}  // namespace sonitor
