#include "shell/BatchWizard.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWizardPage>
#include <algorithm>
#include <array>
#include <filesystem>
#include <set>
#include <system_error>

#include "batch/BatchRun.h"
#include "document/ProgressTask.h"
#include "foundation/FileUtil.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"
#include "foundation/UserPrompt.h"
#include "shell/CheckedDialog.h"
#include "shell/FileDialogs.h"
#include "shell/FormatDialogs.h"
#include "shell/ProgressDialog.h"

namespace sonitor {

namespace {

constexpr char kProductName[] = "Sonitor";
constexpr char kFileErrorTitle[] = "File Error";
constexpr char kUntitledScript[] = "Untitled.snb";
constexpr char kSaveListQuestion[] = "Do you want to save the command list?";
constexpr int kCommandIndexRole = Qt::UserRole;

const std::vector<FileDialogFilter>& ScriptFilters() {
    static const std::vector<FileDialogFilter> filters = {{"Batch Script File", "*.snb"}};
    return filters;
}

// The labels of a command's values in the settings dialog, in block order.
std::vector<const char*> FieldLabels(BatchCommandId id) {
    using I = BatchCommandId;
    switch (id) {
        case I::InsertSilenceStart:
        case I::InsertSilenceEnd:
            return {"Silence &Time (ms):"};
        case I::Amplify:
            return {"Amplify &Gain (%):"};
        case I::Normalize:
            return {"Normalize &Peak Level (%):"};
        case I::HighPassFilter:
            return {"&Frequency (Hz):"};
        case I::Echo:
            return {"Echo &Time (ms):", "Echo &Gain (%):"};
        case I::Reverb:
            return {"Reverb &Time (ms):", "Reverb &Level (%):"};
        case I::NoiseReductionAuto:
            return {"&Threshold:"};
        case I::NoiseGate:
            return {"Noise Gate &Level (dB):"};
        case I::SpeedAndPitch:
            return {"Speed/Pitch &Adjust (%):"};
        case I::Speed:
            return {"Speed &Adjust (%):"};
        case I::Pitch:
            return {"Pitch &Adjust (%):"};
        case I::Compressor:
            return {"&Threshold (dB):", "&Ratio:", "&Limit (dB):"};
        case I::ConvertSampleRate:
            return {"&Sample Rate:"};
        case I::ConvertChannels:
            return {"&Channels:"};
        case I::StereoPan:
            return {"Stereo &Pan (%):"};
        default:
            return {};
    }
}

constexpr std::array<const char*, 7> kCompressorRatios = {"1:1", "3:2", "2:1", "3:1", "4:1", "5:1", "Limit"};

void FieldLimits(const BatchField& field, int64_t& low, int64_t& high) {
    const int bits = 8 * field.bytes;
    if (field.isSigned) {
        high = (int64_t{1} << (bits - 1)) - 1;
        low = -high - 1;
    } else {
        low = 0;
        high = (int64_t{1} << bits) - 1;
    }
}

QString FormatText(const std::string& extension) {
    return extension.empty() ? QStringLiteral("(no extension)") : QString::fromStdString(extension);
}

bool FormatHasNoOptions(const std::string& extension) {
    return extension == ".au" || extension == ".aif" || extension == ".aiff";
}

std::string DefaultFolderChooser(QWidget* parent, const std::string& title, const std::string& start) {
    return QFileDialog::getExistingDirectory(parent, QString::fromStdString(title),
                                             QString::fromStdString(start))
        .toStdString();
}

// Passes everything on, noting whether the run showed an error itself, so
// the message a failed file reports is not shown a second time.
class WatchedHost final : public TaskHost {
public:
    explicit WatchedHost(TaskHost& target) : target_(target) {}
    bool OpenProgress(ProgressTask& task) override { return target_.OpenProgress(task); }
    void CloseProgress(ProgressTask& task) override { target_.CloseProgress(task); }
    void SetProgressText(ProgressTask& task, int line, const std::string& text) override {
        target_.SetProgressText(task, line, text);
    }
    void SetProgressPercent(ProgressTask& task, int percent) override {
        target_.SetProgressPercent(task, percent);
    }
    bool Pump(ProgressTask& task) override { return target_.Pump(task); }
    void ShowTaskError(ProgressTask& task, const std::string& text) override {
        errorShown = true;
        target_.ShowTaskError(task, text);
    }
    int PumpIntervalMs() const override { return target_.PumpIntervalMs(); }

    bool errorShown = false;

private:
    TaskHost& target_;
};

QPushButton* MakeButton(QWidget* parent, const char* text, const char* name, int ctrlId) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setProperty("ctrlId", ctrlId);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

BatchWizard::BatchWizard(QWidget* parent, const SettingsStore& settings, UserPrompt& prompt,
                         FileChooser& files, TaskHost* tasks)
    : QWizard(parent),
      settings_(settings),
      prompt_(prompt),
      chooser_(files),
      chooseFolder_(DefaultFolderChooser) {
    setObjectName(QStringLiteral("BatchConverter"));
    setWindowTitle(QStringLiteral("Batch Converter"));
    setOption(QWizard::NoBackButtonOnStartPage, true);
    setMinimumSize(620, 420);
    if (tasks == nullptr) {
        ownTasks_ = std::make_unique<QtTaskHost>(this);
        tasks_ = ownTasks_.get();
    } else {
        tasks_ = tasks;
    }
    BuildFilesPage();
    BuildCommandsPage();
    BuildOutputPage();
    RefillCommands();
}

BatchWizard::~BatchWizard() = default;

// ---------------------------------------------------------------------------
// Page 1: the files

void BatchWizard::BuildFilesPage() {
    auto* page = new QWizardPage(this);
    page->setObjectName(QStringLiteral("filesPage"));
    page->setTitle(QStringLiteral("File List"));
    fileList_ = new QListWidget(page);
    fileList_->setObjectName(QStringLiteral("fileList"));
    fileList_->setProperty("ctrlId", 101);
    fileList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QPushButton* addFile = MakeButton(page, "Add &File...", "addFile", 102);
    QPushButton* addFolder = MakeButton(page, "Add Fol&der...", "addFolder", 104);
    QPushButton* remove = MakeButton(page, "Remove", "removeFile", 103);
    connect(addFile, &QPushButton::clicked, this, [this] { AddFiles(); });
    connect(addFolder, &QPushButton::clicked, this, [this] { AddFolder(); });
    connect(remove, &QPushButton::clicked, this, [this] { RemoveFiles(); });

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(addFile);
    buttons->addWidget(addFolder);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(page);
    layout->addWidget(fileList_, 1);
    layout->addLayout(buttons);
    setPage(kFilesPage, page);
}

void BatchWizard::AppendFile(const std::string& path) {
    // A file listed twice would only collide with its own output.
    if (std::find(files_.begin(), files_.end(), path) == files_.end()) files_.push_back(path);
}

void BatchWizard::RefillFiles() {
    fileList_->clear();
    for (const std::string& path : files_)
        fileList_->addItem(QString::fromStdString(path));
}

void BatchWizard::AddFiles() {
    OpenFileDialog dialog;
    dialog.title = "Select Audio Files";
    dialog.folder = settings_.ReadString("Settings", "LoadFromFolder", "");
    dialog.filters = OpenAudioFilters();
    dialog.multiple = true;
    for (const std::string& path : chooser_.ChooseOpenFiles(this, dialog))
        AppendFile(path);
    RefillFiles();
}

void BatchWizard::AddFolder() {
    const std::string folder =
        chooseFolder_(this, "Locate folder:", settings_.ReadString("Settings", "LoadFromFolder", ""));
    if (folder.empty()) return;
    settings_.WriteString("Settings", "LoadFromFolder", folder);
    // Only the folder's own files, in name order: sub-folders are not
    // walked, and the listing order of the file system means nothing.
    std::vector<std::string> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError)) found.push_back(JoinPath(folder, it->path().filename().string()));
    }
    std::sort(found.begin(), found.end());
    for (const std::string& path : found)
        AppendFile(path);
    RefillFiles();
}

void BatchWizard::RemoveFiles() {
    std::set<int> rows;
    for (const QListWidgetItem* item : fileList_->selectedItems())
        rows.insert(fileList_->row(item));
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        files_.erase(files_.begin() + *it);
    RefillFiles();
}

// ---------------------------------------------------------------------------
// Page 2: the commands and their script file

void BatchWizard::BuildCommandsPage() {
    auto* page = new QWizardPage(this);
    page->setObjectName(QStringLiteral("commandsPage"));
    page->setTitle(QStringLiteral("Command List"));

    scriptName_ = new QLineEdit(page);
    scriptName_->setObjectName(QStringLiteral("scriptName"));
    scriptName_->setProperty("ctrlId", 102);
    scriptName_->setReadOnly(true);
    auto* scriptLabel = new QLabel(QStringLiteral("&Batch Script File"), page);
    scriptLabel->setBuddy(scriptName_);
    QPushButton* newScript = MakeButton(page, "&New", "newScript", 107);
    QPushButton* openScript = MakeButton(page, "Open", "openScript", 106);
    QPushButton* saveScript = MakeButton(page, "&Save As", "saveScriptAs", 108);
    connect(newScript, &QPushButton::clicked, this, [this] { NewScript(); });
    connect(openScript, &QPushButton::clicked, this, [this] { OpenScript(); });
    connect(saveScript, &QPushButton::clicked, this, [this] { SaveScriptAs(); });

    commandList_ = new QTreeWidget(page);
    commandList_->setObjectName(QStringLiteral("commandList"));
    commandList_->setProperty("ctrlId", 101);
    commandList_->setColumnCount(2);
    commandList_->setHeaderLabels({QStringLiteral("Command"), QStringLiteral("Description")});
    commandList_->setRootIsDecorated(false);
    commandList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    commandList_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    connect(commandList_, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateCommandButtons(); });
    connect(commandList_, &QTreeWidget::currentItemChanged, this, [this] { UpdateCommandButtons(); });
    connect(commandList_, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (commandSettings_->isEnabled()) EditCommandSettings();
    });

    QPushButton* add = MakeButton(page, "Add", "addCommand", 104);
    removeCommand_ = MakeButton(page, "Remove", "removeCommand", 105);
    commandSettings_ = MakeButton(page, "Set&tings", "commandSettings", 103);
    connect(add, &QPushButton::clicked, this, [this] { AddCommands(); });
    connect(removeCommand_, &QPushButton::clicked, this, [this] { RemoveCommands(); });
    connect(commandSettings_, &QPushButton::clicked, this, [this] { EditCommandSettings(); });

    auto* scriptRow = new QHBoxLayout;
    scriptRow->addWidget(scriptLabel);
    scriptRow->addWidget(scriptName_, 1);
    scriptRow->addWidget(newScript);
    scriptRow->addWidget(openScript);
    scriptRow->addWidget(saveScript);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(removeCommand_);
    buttons->addWidget(commandSettings_);
    buttons->addStretch(1);
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(commandList_, 1);
    listRow->addLayout(buttons);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(scriptRow);
    layout->addLayout(listRow, 1);
    setPage(kCommandsPage, page);
}

void BatchWizard::RefillCommands() {
    const int current = commandList_->currentItem() != nullptr
                            ? commandList_->currentItem()->data(0, kCommandIndexRole).toInt()
                            : -1;
    {
        // The items about to go name commands that may be gone already.
        const QSignalBlocker quiet(commandList_);
        commandList_->clear();
    }
    for (size_t i = 0; i < commands_.size(); ++i) {
        const BatchCommand& command = commands_[i];
        // Ids from a newer script are kept and saved again, but there is
        // nothing to show for them.
        if (command.id >= kBatchCommandCount) continue;
        auto* item = new QTreeWidgetItem(commandList_);
        item->setText(0, QString::fromStdString(BatchCommandName(command.id)));
        item->setText(1, QString::fromStdString(BatchCommandDescription(command, settings_)));
        item->setData(0, kCommandIndexRole, static_cast<int>(i));
        if (static_cast<int>(i) == current) commandList_->setCurrentItem(item);
    }
    scriptName_->setText(scriptPath_.empty() ? QString::fromLatin1(kUntitledScript)
                                             : QString::fromStdString(FileNamePart(scriptPath_)));
    scriptName_->setToolTip(QString::fromStdString(scriptPath_));
    UpdateCommandButtons();
}

void BatchWizard::UpdateCommandButtons() {
    const QTreeWidgetItem* current = commandList_->currentItem();
    bool editable = false;
    const size_t index =
        current != nullptr ? static_cast<size_t>(current->data(0, kCommandIndexRole).toInt()) : 0;
    if (current != nullptr && current->isSelected() && index < commands_.size()) {
        const uint32_t id = commands_[index].id;
        // The equalizer and envelope records need their own curve dialogs.
        editable = !BatchCommandFields(id).empty() && !BatchCommandTakesRecord(id);
    }
    commandSettings_->setEnabled(editable);
    removeCommand_->setEnabled(!commandList_->selectedItems().isEmpty());
}

void BatchWizard::MarkChanged() {
    changed_ = true;
    RefillCommands();
}

bool BatchWizard::MaySetListAside() {
    const bool unsaved = scriptPath_.empty() ? !commands_.empty() : changed_;
    if (!unsaved) return true;
    const PromptAnswer answer =
        prompt_.Ask(kProductName, kSaveListQuestion, PromptIcon::Question, PromptButtons::YesNoCancel);
    if (answer == PromptAnswer::Cancel) return false;
    if (answer != PromptAnswer::Yes) return true;
    // The user asked for the list to be kept: a save that did not happen
    // must not let it go.
    return scriptPath_.empty() ? SaveScriptAs() : WriteScript(scriptPath_);
}

void BatchWizard::NewScript() {
    if (!MaySetListAside()) return;
    commands_.clear();
    scriptPath_.clear();
    changed_ = false;
    RefillCommands();
}

void BatchWizard::OpenScript() {
    if (!MaySetListAside()) return;
    OpenFileDialog dialog;
    dialog.title = "Open Batch Script File";
    dialog.folder = DirectoryPart(scriptPath_);
    dialog.defaultExtension = "snb";
    dialog.filters = ScriptFilters();
    const std::vector<std::string> chosen = chooser_.ChooseOpenFiles(this, dialog);
    if (!chosen.empty()) LoadScript(chosen.front());
}

bool BatchWizard::LoadScript(const std::string& path) {
    ScriptReadResult read = ReadBatchScript(path);
    const char* problem = nullptr;
    switch (read.error) {
        case ScriptReadError::None:
            break;
        case ScriptReadError::CannotOpen:
            // Saying nothing would look as if an empty script had loaded.
            problem = kScriptOpenMessage;
            break;
        case ScriptReadError::WrongVersion:
            problem = kScriptVersionMessage;
            break;
        case ScriptReadError::Damaged:
            problem = kScriptDamagedMessage;
            break;
    }
    changed_ = false;
    if (problem != nullptr) {
        commands_.clear();
        scriptPath_.clear();
        RefillCommands();
        prompt_.Tell(kFileErrorTitle, problem, PromptIcon::Error);
        return false;
    }
    commands_ = std::move(read.commands);
    scriptPath_ = path;
    RefillCommands();
    return true;
}

bool BatchWizard::WriteScript(const std::string& path) {
    if (!WriteBatchScript(path, commands_)) {
        prompt_.Tell(kFileErrorTitle, kScriptOpenMessage, PromptIcon::Error);
        return false;
    }
    scriptPath_ = path;
    changed_ = false;
    RefillCommands();
    return true;
}

bool BatchWizard::SaveScriptAs() {
    SaveFileDialog dialog;
    dialog.title = "Locate Batch Script File";
    dialog.folder = DirectoryPart(scriptPath_);
    const std::string name = FileNamePart(scriptPath_.empty() ? std::string(kUntitledScript) : scriptPath_);
    dialog.fileName = name.substr(0, name.size() - ExtensionPart(name).size());
    dialog.defaultExtension = "snb";
    dialog.filters = ScriptFilters();
    for (;;) {
        const std::optional<std::string> path = chooser_.ChooseSaveFile(this, dialog);
        if (!path) return false;
        if (FileExists(*path)) {
            const PromptAnswer answer = prompt_.Ask(
                kProductName, "Another file with the same name already exists. Do you want to replace it?",
                PromptIcon::Warning, PromptButtons::YesNoCancel);
            if (answer == PromptAnswer::Cancel) return false;
            if (answer != PromptAnswer::Yes) continue;
        }
        return WriteScript(*path);
    }
}

void BatchWizard::AddCommands() {
    CheckedDialog dialog(this, QStringLiteral("Add Command"));
    auto* label = new QLabel(QStringLiteral("&Select command(s) to add to the Command list."), &dialog);
    auto* choices = new QTreeWidget(&dialog);
    choices->setObjectName(QStringLiteral("commandChoices"));
    choices->setProperty("ctrlId", 101);
    choices->setHeaderHidden(true);
    choices->setRootIsDecorated(false);
    choices->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (uint32_t id = 0; id < kBatchCommandCount; ++id)
        new QTreeWidgetItem(choices, {QString::fromStdString(BatchCommandName(id))});
    label->setBuddy(choices);
    dialog.Layout()->addWidget(label);
    dialog.Layout()->addWidget(choices, 1);
    dialog.AddButtons({}, true);
    dialog.findChild<QPushButton*>(QStringLiteral("ok"))->setText(QStringLiteral("Add"));
    connect(choices, &QTreeWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    dialog.resize(420, 420);
    if (dialog.exec() != QDialog::Accepted) return;

    // In the table's order, whatever order they were picked in.
    bool added = false;
    for (uint32_t id = 0; id < kBatchCommandCount; ++id) {
        if (!choices->topLevelItem(static_cast<int>(id))->isSelected()) continue;
        commands_.push_back({id, DefaultBatchBlock(id, settings_)});
        added = true;
    }
    if (added) MarkChanged();
}

void BatchWizard::RemoveCommands() {
    std::set<int> indexes;
    for (const QTreeWidgetItem* item : commandList_->selectedItems())
        indexes.insert(item->data(0, kCommandIndexRole).toInt());
    if (indexes.empty()) return;
    for (auto it = indexes.rbegin(); it != indexes.rend(); ++it)
        commands_.erase(commands_.begin() + *it);
    MarkChanged();
}

void BatchWizard::EditCommandSettings() {
    const QTreeWidgetItem* current = commandList_->currentItem();
    if (current == nullptr) return;
    BatchCommand& command = commands_[static_cast<size_t>(current->data(0, kCommandIndexRole).toInt())];
    const auto id = static_cast<BatchCommandId>(command.id);
    const std::vector<BatchField> fields = BatchCommandFields(command.id);
    if (fields.empty() || BatchCommandTakesRecord(command.id)) return;
    const std::vector<int32_t> values = BatchCommandValues(command, settings_);
    const std::vector<const char*> labels = FieldLabels(id);

    CheckedDialog dialog(this, QString::fromStdString(BatchCommandName(command.id)));
    dialog.setObjectName(QStringLiteral("CommandSettings"));
    std::vector<QLineEdit*> edits(fields.size(), nullptr);
    QComboBox* ratio = nullptr;
    for (size_t i = 0; i < fields.size(); ++i) {
        const QString label = i < labels.size() ? QString::fromUtf8(labels[i]) : QStringLiteral("Value:");
        const std::string name = "value" + std::to_string(i);
        const int32_t value = i < values.size() ? values[i] : 0;
        if (id == BatchCommandId::Compressor && i == 1) {
            ratio = new QComboBox(&dialog);
            ratio->setObjectName(QString::fromStdString(name));
            for (const char* text : kCompressorRatios)
                ratio->addItem(QString::fromLatin1(text));
            ratio->setCurrentIndex(
                value >= 0 && value < static_cast<int32_t>(kCompressorRatios.size()) ? value : -1);
            dialog.Form()->addRow(label, ratio);
            continue;
        }
        edits[i] = MakeNumberField(&dialog, name.c_str(), value, fields[i].isSigned);
        dialog.Form()->addRow(label, edits[i]);
    }
    dialog.AddButtons();

    std::vector<int32_t> chosen;
    dialog.check = [&] {
        chosen.clear();
        for (size_t i = 0; i < fields.size(); ++i) {
            if (edits[i] == nullptr) {
                // An unknown ratio stays as it was until one is picked.
                chosen.push_back(ratio->currentIndex() >= 0 ? ratio->currentIndex() : values[i]);
                continue;
            }
            // The block holds the value in its own width: a value beyond it
            // would be stored as another one.
            const int64_t value = edits[i]->text().trimmed().toLongLong();
            int64_t low = 0;
            int64_t high = 0;
            FieldLimits(fields[i], low, high);
            if (value < low || value > high) {
                prompt_.Tell(kProductName,
                             Format("Please enter a whole number from %lld to %lld.",
                                    static_cast<long long>(low), static_cast<long long>(high)),
                             PromptIcon::Information);
                edits[i]->setFocus();
                edits[i]->selectAll();
                return false;
            }
            chosen.push_back(static_cast<int32_t>(value));
        }
        const BatchCommand candidate{command.id, EncodeBatchBlock(command.id, chosen)};
        if (const std::optional<InvalidValue> invalid = CheckBatchCommand(candidate, settings_)) {
            prompt_.Tell(invalid->title, invalid->text, PromptIcon::Information);
            return false;
        }
        return true;
    };
    if (dialog.exec() != QDialog::Accepted) return;
    command.block = EncodeBatchBlock(command.id, chosen);
    MarkChanged();
}

// ---------------------------------------------------------------------------
// Page 3: the output

void BatchWizard::BuildOutputPage() {
    auto* page = new QWizardPage(this);
    page->setObjectName(QStringLiteral("outputPage"));
    page->setTitle(QStringLiteral("Output"));
    const BatchOutput output = BatchOutput::Load(settings_);

    sameFormat_ = MakeRadio(page, "Use the &same file format that was used to load the files", "sameFormat");
    sameFormat_->setProperty("ctrlId", 101);
    convertFormat_ = MakeRadio(page, "&Convert to file format", "convertFormat");
    convertFormat_->setProperty("ctrlId", 102);
    auto* formatGroup = new QButtonGroup(page);
    formatGroup->addButton(sameFormat_);
    formatGroup->addButton(convertFormat_);
    formatCombo_ = new QComboBox(page);
    formatCombo_->setObjectName(QStringLiteral("formatCombo"));
    formatCombo_->setProperty("ctrlId", 103);
    for (const std::string& extension : BatchOutputFormats())
        formatCombo_->addItem(FormatText(extension));
    formatOptions_ = MakeButton(page, "&Format Options", "formatOptions", 104);

    sameFolder_ = MakeRadio(
        page, "Use the sa&me folder that the files were loaded from (replace files if format is the same)",
        "sameFolder");
    sameFolder_->setProperty("ctrlId", 105);
    chosenFolder_ = MakeRadio(page, "Sa&ve to this folder", "chosenFolder");
    chosenFolder_->setProperty("ctrlId", 106);
    auto* folderGroup = new QButtonGroup(page);
    folderGroup->addButton(sameFolder_);
    folderGroup->addButton(chosenFolder_);
    outputFolder_ = new QLineEdit(QString::fromStdString(output.folder), page);
    outputFolder_->setObjectName(QStringLiteral("outputFolder"));
    outputFolder_->setProperty("ctrlId", 107);
    browseFolder_ = MakeButton(page, "...", "browseFolder", 108);

    (output.sameFormat ? sameFormat_ : convertFormat_)->setChecked(true);
    const int formats = static_cast<int>(BatchOutputFormats().size());
    formatCombo_->setCurrentIndex(output.formatIndex >= 0 && output.formatIndex < formats ? output.formatIndex
                                                                                          : 0);
    (output.sameFolder ? sameFolder_ : chosenFolder_)->setChecked(true);

    connect(formatGroup, &QButtonGroup::buttonToggled, this, [this] { UpdateOutputControls(); });
    connect(folderGroup, &QButtonGroup::buttonToggled, this, [this] { UpdateOutputControls(); });
    connect(formatCombo_, &QComboBox::currentIndexChanged, this, [this] { UpdateOutputControls(); });
    connect(formatOptions_, &QPushButton::clicked, this, [this] { ShowFormatOptions(); });
    connect(browseFolder_, &QPushButton::clicked, this, [this] { BrowseOutputFolder(); });

    auto* layout = new QGridLayout(page);
    layout->addWidget(sameFormat_, 0, 0, 1, 3);
    layout->addWidget(convertFormat_, 1, 0);
    layout->addWidget(formatCombo_, 1, 1);
    layout->addWidget(formatOptions_, 1, 2);
    layout->addWidget(sameFolder_, 2, 0, 1, 3);
    layout->addWidget(chosenFolder_, 3, 0, 1, 3);
    layout->addWidget(outputFolder_, 4, 0, 1, 2);
    layout->addWidget(browseFolder_, 4, 2);
    layout->setRowStretch(5, 1);
    layout->setColumnStretch(1, 1);
    setPage(kOutputPage, page);
    UpdateOutputControls();
}

int BatchWizard::FormatIndex() const {
    return formatCombo_->currentIndex();
}

void BatchWizard::UpdateOutputControls() {
    const bool convert = convertFormat_->isChecked();
    const int index = FormatIndex();
    const std::string extension =
        index >= 0 ? BatchOutputFormats()[static_cast<size_t>(index)] : std::string();
    formatCombo_->setEnabled(convert);
    formatOptions_->setEnabled(convert && index >= 0 && !FormatHasNoOptions(extension));
    outputFolder_->setEnabled(chosenFolder_->isChecked());
    browseFolder_->setEnabled(chosenFolder_->isChecked());
}

void BatchWizard::ShowFormatOptions() {
    const int index = FormatIndex();
    if (index < 0) return;
    // The sources' own formats are not known here; the options start from
    // CD quality.
    ShowFormatOptionsDialog(this, BatchOutputFormats()[static_cast<size_t>(index)], 44100, 2, settings_,
                            prompt_);
}

void BatchWizard::BrowseOutputFolder() {
    const std::string folder =
        chooseFolder_(this, "Locate Output Folder", outputFolder_->text().toStdString());
    if (!folder.empty()) outputFolder_->setText(QString::fromStdString(folder));
}

bool BatchWizard::validateCurrentPage() {
    if (currentId() != kOutputPage) return QWizard::validateCurrentPage();
    return FinishRun();
}

bool BatchWizard::FinishRun() {
    if (files_.empty()) {
        prompt_.Tell(kProductName, "There are no files to convert. Please add them to the file list.",
                     PromptIcon::Information);
        return false;
    }
    BatchOutput output;
    output.sameFormat = sameFormat_->isChecked();
    output.formatIndex = std::max(FormatIndex(), 0);
    output.sameFolder = sameFolder_->isChecked();
    output.folder = outputFolder_->text().trimmed().toStdString();

    if (BatchNeedsConvertWarning(commands_, output) &&
        prompt_.Ask("Warning", kBatchConvertWarning, PromptIcon::Warning, PromptButtons::OkCancel) !=
            PromptAnswer::Ok)
        return false;
    output.Store(settings_);

    if (!output.sameFolder && !output.folder.empty() && !IsFolder(output.folder)) {
        const std::string question =
            Format("The folder  \"%s\" does not exist. Do you want to create it now?", output.folder.c_str());
        if (prompt_.Ask(kProductName, question, PromptIcon::Question, PromptButtons::YesNoCancel) !=
            PromptAnswer::Yes)
            return false;
        if (!MakeFolders(output.folder)) {
            prompt_.Tell(kProductName, "Unable to create folder.", PromptIcon::Error);
            return false;
        }
    }
    if (!output.sameFolder && output.folder.empty()) {
        prompt_.Tell(kProductName, "Invalid output folder. Please select a folder to save to.",
                     PromptIcon::Warning);
        return false;
    }

    // Refused as a whole before anything is written: a later file would
    // replace an earlier one's output, or another source of the list.
    const std::vector<std::string> collisions = BatchOutputCollisions(files_, output);
    if (!collisions.empty()) {
        std::string text =
            "These files would be saved over the output of an earlier file in the list, or over another "
            "file of the list:\n";
        for (const std::string& source : collisions)
            text += "\n" + source + "  ->  " + BatchOutputPath(source, output).value_or(std::string());
        text += "\n\nRemove them from the list, or choose another file format or folder.";
        prompt_.Tell(kProductName, text, PromptIcon::Warning);
        return false;
    }

    WatchedHost host(*tasks_);
    std::string failure;
    running_ = true;
    const int32_t result = RunBatch(host, files_, commands_, output, settings_, false,
                                    [&failure](size_t, const std::string&, const std::string&,
                                               int32_t fileResult, const std::string& message) {
                                        if (fileResult == kTaskFailed) failure = message;
                                    });
    running_ = false;
    if (result != kTaskDone) {
        if (result == kTaskFailed && !host.errorShown && !failure.empty())
            prompt_.Tell("Error", failure, PromptIcon::Warning);
        return false;
    }
    return MaySetListAside();
}

void BatchWizard::reject() {
    // A close request reaching the window while the run pumps events: the
    // run owns the lists until it ends.
    if (running_ || !MaySetListAside()) return;
    QWizard::reject();
}

}  // namespace sonitor
