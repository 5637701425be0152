#include "shell/EditDialogs.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>
#include <array>
#include <optional>
#include <utility>

#include "document/DocumentHost.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "edit/TimeText.h"
#include "foundation/UserPrompt.h"
#include "shell/CheckedDialog.h"
#include "shell/DbEdit.h"

namespace sonitor {

namespace {

// True when the values may be used; otherwise the refusal is shown.
bool Accepts(UserPrompt& prompt, const std::optional<InvalidValue>& invalid, PromptIcon icon) {
    if (!invalid) return true;
    prompt.Tell(invalid->title, invalid->text, icon);
    return false;
}

}  // namespace

bool AskRepeatLoop(QWidget* parent, const SettingsStore& settings, UserPrompt& prompt,
                   RepeatSettings& values) {
    RepeatSettings s = RepeatSettings::Load(settings);
    CheckedDialog dialog(parent, QStringLiteral("Repeat Loop"));
    QLineEdit* times = MakeNumberField(&dialog, "times", s.times);
    dialog.Form()->addRow(QStringLiteral("&Repeat number of times:"), times);
    dialog.AddButtons();
    dialog.check = [&] {
        s.times = NumberFieldValue(times);
        return Accepts(prompt, s.Validate(), PromptIcon::Information);
    };
    if (dialog.exec() != QDialog::Accepted) return false;
    s.Store(settings);
    values = s;
    return true;
}

bool AskInsertSilence(QWidget* parent, const SettingsStore& settings, UserPrompt& prompt,
                      SilenceSettings& values) {
    SilenceSettings s = SilenceSettings::Load(settings);
    CheckedDialog dialog(parent, QStringLiteral("Insert Silence"));
    QLineEdit* time = MakeNumberField(&dialog, "time", s.milliseconds);
    dialog.Form()->addRow(QStringLiteral("Silence &Time (ms):"), time);
    dialog.AddButtons();
    dialog.check = [&] {
        s.milliseconds = NumberFieldValue(time);
        return Accepts(prompt, s.Validate(), PromptIcon::Information);
    };
    if (dialog.exec() != QDialog::Accepted) return false;
    s.Store(settings);
    values = s;
    return true;
}

bool AskMix(QWidget* parent, const std::string& title, bool stereo, bool hasSelection,
            const SettingsStore& settings, UserPrompt& prompt, MixSettings& values) {
    const MixSettings stored = MixSettings::Load(settings);
    MixSettings s = stored;
    CheckedDialog dialog(parent, QString::fromStdString(title));

    QLineEdit* volume = MakeNumberField(&dialog, "volume", s.volume);
    dialog.Form()->addRow(QStringLiteral("&Mix Volume (%)"), volume);

    auto* pan = new QSlider(Qt::Horizontal, &dialog);
    pan->setObjectName(QStringLiteral("pan"));
    pan->setRange(0, 100);
    pan->setValue(50);  // the pan is a per-mix choice and is never remembered
    pan->setEnabled(stereo);
    dialog.Form()->addRow(QStringLiteral("&Stereo Pan (L - R)"), pan);

    auto* overflow = new QGroupBox(QStringLiteral("If mi&x audio is longer than selection:"), &dialog);
    overflow->setObjectName(QStringLiteral("overflow"));
    auto* overflowLayout = new QVBoxLayout(overflow);
    auto* modes = new QButtonGroup(&dialog);
    const std::array<std::pair<QRadioButton*, int>, 3> choices = {{
        {MakeRadio(overflow, "Increase se&lection", "increaseSelection"), MixSettings::kIncreaseSelection},
        {MakeRadio(overflow, "&Insert silence", "insertSilence"), MixSettings::kInsertSilence},
        {MakeRadio(overflow, "&Fade out mix", "fadeOutMix"), MixSettings::kFadeOutMix},
    }};
    for (const auto& [radio, mode] : choices) {
        modes->addButton(radio, mode);
        overflowLayout->addWidget(radio);
    }
    QLineEdit* fade = MakeNumberField(&dialog, "fadeOutTime", s.fadeOutFrames, false);
    auto* fadeRow = new QFormLayout;
    fadeRow->addRow(QStringLiteral("Fade &out time:"), fade);
    overflowLayout->addLayout(fadeRow);
    dialog.Layout()->addWidget(overflow);

    // Without a selection there is nothing to be longer than: the mix always
    // extends the selection.
    const int initialMode = hasSelection ? s.overflowMode : MixSettings::kIncreaseSelection;
    modes->button(initialMode)->setChecked(true);
    overflow->setEnabled(hasSelection);
    const auto updateFade = [modes, fade] {
        fade->setEnabled(modes->checkedId() == MixSettings::kFadeOutMix);
    };
    updateFade();
    QObject::connect(modes, &QButtonGroup::idToggled, &dialog, updateFade);

    dialog.AddButtons();
    dialog.check = [&] {
        s.volume = NumberFieldValue(volume);
        s.pan = pan->value();
        s.overflowMode = modes->checkedId();
        s.fadeOutFrames = NumberFieldValue(fade);
        return Accepts(prompt, s.Validate(), PromptIcon::Information);
    };
    if (dialog.exec() != QDialog::Accepted) return false;

    // The forced mode of a mix without a selection is not a choice the user
    // made, so the remembered one stays.
    MixSettings toStore = s;
    if (!hasSelection) {
        toStore.overflowMode = stored.overflowMode;
        toStore.fadeOutFrames = stored.fadeOutFrames;
    }
    toStore.Store(settings);
    values = s;
    return true;
}

bool AskAutoSplit(QWidget* parent, const SettingsStore& settings, UserPrompt& prompt,
                  AutoSplitSettings& values) {
    AutoSplitSettings s = AutoSplitSettings::Load(settings);
    CheckedDialog dialog(parent, QStringLiteral("Auto Split File"));
    auto* threshold = new DbEdit(&dialog);
    threshold->setObjectName(QStringLiteral("threshold"));
    threshold->SetRange(-127, 127);
    threshold->SetValue(s.thresholdDb);
    dialog.Form()->addRow(QStringLiteral("Threshold"), threshold);
    QLineEdit* duration = MakeNumberField(&dialog, "duration", s.durationMs);
    dialog.Form()->addRow(QStringLiteral("Duration"), duration);
    dialog.AddButtons();
    dialog.check = [&] {
        s.thresholdDb = threshold->Value();
        s.durationMs = NumberFieldValue(duration);
        return Accepts(prompt, s.Validate(), PromptIcon::Information);
    };
    if (dialog.exec() != QDialog::Accepted) return false;
    s.Store(settings);
    values = s;
    return true;
}

bool AskNewFile(QWidget* parent, const std::string& title, const SettingsStore& settings, UserPrompt& prompt,
                NewFileSettings& values) {
    NewFileSettings s = NewFileSettings::Load(settings, IsSetDefaultsTitle(title));
    CheckedDialog dialog(parent, QString::fromStdString(title));

    static constexpr std::array<int32_t, 11> kRates = {6000,  8000,  11025, 16000, 22050, 32000,
                                                       44100, 48000, 64000, 88200, 96000};
    QComboBox* rate = MakeRateCombo(&dialog, "sampleRate", kRates, s.sampleRate);
    dialog.Form()->addRow(QStringLiteral("&Sample Rate:"), rate);

    auto* channels = new QGroupBox(QStringLiteral("&Channels: "), &dialog);
    channels->setObjectName(QStringLiteral("channels"));
    auto* channelsLayout = new QVBoxLayout(channels);
    QRadioButton* mono = MakeRadio(channels, "&Mono (Single)", "mono");
    QRadioButton* stereo = MakeRadio(channels, "Ste&reo (Dual)", "stereo");
    channelsLayout->addWidget(mono);
    channelsLayout->addWidget(stereo);
    (s.channels == 2 ? stereo : mono)->setChecked(true);
    dialog.Layout()->addWidget(channels);

    dialog.AddButtons();
    dialog.check = [&] {
        s.sampleRate = NumberFieldValue(rate->currentText());
        s.channels = stereo->isChecked() ? 2 : 1;
        return Accepts(prompt, s.Validate(), PromptIcon::Error);
    };
    if (dialog.exec() != QDialog::Accepted) return false;
    s.Store(settings);
    values = s;
    return true;
}

bool AskSelectTime(QWidget* parent, SoundDocument& document, DocumentHost& host,
                   std::function<void()> preview) {
    const int32_t rate = static_cast<int32_t>(document.clip.SampleRate());
    const int32_t originalStart = document.selectionStart;
    const int32_t originalEnd = document.selectionEnd;
    const int32_t originalCursor = document.cursor;

    CheckedDialog dialog(parent, QStringLiteral("Select Specified Time"));
    auto* start = new QLineEdit(QString::fromStdString(FormatTimeText(originalStart, rate)), &dialog);
    start->setObjectName(QStringLiteral("start"));
    auto* end = new QLineEdit(QString::fromStdString(FormatTimeText(originalEnd, rate)), &dialog);
    end->setObjectName(QStringLiteral("end"));
    dialog.Form()->addRow(QStringLiteral("Specified &Time Start"), start);
    dialog.Form()->addRow(QStringLiteral("Specified Time &End"), end);

    // The fields show rounded times; a bound the user has not touched keeps
    // its exact frame.
    int32_t startFrame = originalStart;
    int32_t endFrame = originalEnd;
    const auto follow = [&](QLineEdit* field, int32_t* frame) {
        QObject::connect(field, &QLineEdit::textEdited, &dialog, [&, frame](const QString& text) {
            const std::optional<int32_t> parsed = ParseTimeText(text.toStdString(), rate);
            if (!parsed) return;  // half-typed: the selection waits for a time
            *frame = *parsed;
            SelectFrames(document, startFrame, endFrame, host);
        });
    };
    follow(start, &startFrame);
    follow(end, &endFrame);

    QDialogButtonBox* box = dialog.AddButtons();
    QPushButton* previewButton = box->addButton(QStringLiteral("Pre&view"), QDialogButtonBox::ActionRole);
    previewButton->setObjectName(QStringLiteral("preview"));
    previewButton->setEnabled(static_cast<bool>(preview));
    QObject::connect(previewButton, &QPushButton::clicked, &dialog, [&preview] {
        if (preview) preview();
    });

    if (dialog.exec() == QDialog::Accepted) return true;
    SetSelection(document, originalStart, originalEnd, originalCursor, host);
    return false;
}

}  // namespace sonitor
