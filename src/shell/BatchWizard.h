#pragma once

#include <QWizard>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "batch/BatchScript.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace sonitor {

class FileChooser;
class QtTaskHost;
class SettingsStore;
class TaskHost;
class UserPrompt;

// The batch converter ("BatchConverter"): page 1 the source files, page 2
// the command list and its script file, page 3 the output format and
// folder. Finish runs the batch as one task; the wizard closes only when
// every file was converted. The conversion itself is the batch engine's.
class BatchWizard final : public QWizard {
    Q_OBJECT
public:
    enum PageId { kFilesPage = 0, kCommandsPage = 1, kOutputPage = 2 };

    // An existing folder chosen by the user (title, starting folder); empty
    // when cancelled. Tests replace the platform's folder dialog with it.
    using FolderChooser =
        std::function<std::string(QWidget* parent, const std::string& title, const std::string& start)>;

    // tasks null: a progress host of the wizard's own. It must belong to
    // the wizard, not to the main window: the wizard is modal, and the
    // progress window of a host owned by anything else would be blocked by
    // it, its Cancel button out of the user's reach.
    BatchWizard(QWidget* parent, const SettingsStore& settings, UserPrompt& prompt, FileChooser& files,
                TaskHost* tasks = nullptr);
    ~BatchWizard() override;

    void SetFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }
    // The wizard's own progress host (null when one was given).
    QtTaskHost* OwnTasks() const { return ownTasks_.get(); }

    // Loads a script file as Open does after its question: on an error the
    // message, and an empty untitled list. True when it was loaded.
    bool LoadScript(const std::string& path);

    const std::vector<std::string>& Files() const { return files_; }
    const std::vector<BatchCommand>& Commands() const { return commands_; }
    // Empty while the list has no file ("Untitled.snb").
    const std::string& ScriptPath() const { return scriptPath_; }
    bool Changed() const { return changed_; }

    // Closing asks whether to save a changed list; Cancel keeps it open.
    void reject() override;

protected:
    // Finish (on the output page): the checks, then the run.
    bool validateCurrentPage() override;

private:
    void BuildFilesPage();
    void BuildCommandsPage();
    void BuildOutputPage();

    // Page 1
    void AddFiles();
    void AddFolder();
    void RemoveFiles();
    void AppendFile(const std::string& path);
    void RefillFiles();

    // Page 2
    void NewScript();
    void OpenScript();
    bool SaveScriptAs();
    bool WriteScript(const std::string& path);
    // The save question; false when the user cancelled (or a save he asked
    // for did not happen).
    bool MaySetListAside();
    void AddCommands();
    void RemoveCommands();
    void EditCommandSettings();
    void RefillCommands();
    void UpdateCommandButtons();
    void MarkChanged();

    // Page 3
    void UpdateOutputControls();
    void ShowFormatOptions();
    void BrowseOutputFolder();
    int FormatIndex() const;
    bool FinishRun();

    const SettingsStore& settings_;
    UserPrompt& prompt_;
    FileChooser& chooser_;
    std::unique_ptr<QtTaskHost> ownTasks_;
    TaskHost* tasks_ = nullptr;
    FolderChooser chooseFolder_;

    std::vector<std::string> files_;
    std::vector<BatchCommand> commands_;
    std::string scriptPath_;
    bool changed_ = false;
    bool running_ = false;

    QListWidget* fileList_ = nullptr;
    QLineEdit* scriptName_ = nullptr;
    QTreeWidget* commandList_ = nullptr;
    QPushButton* removeCommand_ = nullptr;
    QPushButton* commandSettings_ = nullptr;
    QRadioButton* sameFormat_ = nullptr;
    QRadioButton* convertFormat_ = nullptr;
    QComboBox* formatCombo_ = nullptr;
    QPushButton* formatOptions_ = nullptr;
    QRadioButton* sameFolder_ = nullptr;
    QRadioButton* chosenFolder_ = nullptr;
    QLineEdit* outputFolder_ = nullptr;
    QPushButton* browseFolder_ = nullptr;
};

}  // namespace sonitor
