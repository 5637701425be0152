// The edit, format and file dialogs, driven offscreen: a zero timer finds
// the modal dialog, sets its controls and presses its buttons while the
// public function waits in exec().
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <functional>

#include <gtest/gtest.h>

#include "document/AudioClip.h"
#include "document/DocumentHost.h"
#include "document/SoundDocument.h"
#include "formats/export/EncoderCommands.h"
#include "formats/export/ExportDispatcher.h"
#include "formats/raw/RawSettings.h"
#include "foundation/SettingsStore.h"
#include "shell/DbEdit.h"
#include "shell/EditDialogs.h"
#include "shell/FileDialogs.h"
#include "shell/FormatDialogs.h"
#include "support/ScriptedPrompt.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using test::ScriptedPrompt;

// Runs body on the modal dialog called name as soon as it is shown.
void OnModal(const QString& name, std::function<void(QDialog&)> body, int attempts = 500, int delayMs = 0) {
    QTimer::singleShot(delayMs, [name, body = std::move(body), attempts]() mutable {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->objectName() == name && dialog->isVisible()) {
            body(*dialog);
        } else if (attempts > 0) {
            OnModal(name, std::move(body), attempts - 1, 5);
        } else {
            ADD_FAILURE() << "no modal dialog " << name.toStdString();
        }
    });
}

template <class T>
T* Child(QDialog& dialog, const char* name) {
    T* child = dialog.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

void Click(QDialog& dialog, const char* button) {
    Child<QPushButton>(dialog, button)->click();
}

void SetText(QDialog& dialog, const char* field, const QString& text) {
    Child<QLineEdit>(dialog, field)->setText(text);
}

void SetComboText(QDialog& dialog, const char* combo, const QString& text) {
    Child<QComboBox>(dialog, combo)->setCurrentText(text);
}

struct PrivateSettings {
    std::string folder = test::MakeTempFolder("settings");
    SettingsStore store{{folder + "/settings.ini", folder + "/machine.ini"}};
};

TEST(EditDialogs, MixVolumeAboveHundredIsRefusedAndTheDialogStaysOpen) {
    PrivateSettings s;
    ScriptedPrompt prompt;
    OnModal("PasteMix", [&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Paste Mix");
        EXPECT_TRUE(Child<QSlider>(d, "pan")->isEnabled());
        SetText(d, "volume", "101");
        Child<QRadioButton>(d, "fadeOutMix")->click();
        SetText(d, "fadeOutTime", "300");
        Child<QSlider>(d, "pan")->setValue(20);
        Click(d, "ok");
        EXPECT_TRUE(d.isVisible());
        SetText(d, "volume", "100");
        Click(d, "ok");
    });
    MixSettings values;
    ASSERT_TRUE(AskMix(nullptr, "Paste Mix", true, true, s.store, prompt, values));
    ASSERT_EQ(prompt.History().size(), 1u);
    EXPECT_EQ(prompt.History()[0].title, "Invalid value");
    EXPECT_EQ(prompt.History()[0].text, "Mix Volume must be less than 100%. Please try again.");
    EXPECT_EQ(prompt.History()[0].icon, PromptIcon::Information);
    EXPECT_EQ(values.volume, 100);
    EXPECT_EQ(values.pan, 20);
    EXPECT_EQ(s.store.ReadInt("StoredValues", "PasteMixVolume", 0), 100);
    EXPECT_EQ(s.store.ReadInt("StoredValues", "LongerSelection", 0), MixSettings::kFadeOutMix);
    EXPECT_EQ(s.store.ReadInt("StoredValues", "FadeOutTime", 0), 300);

    // Without a selection the mix extends it, and the remembered choice
    // survives; a mono document cannot be panned.
    OnModal("MixFile", [&](QDialog& d) {
        EXPECT_FALSE(Child<QSlider>(d, "pan")->isEnabled());
        EXPECT_FALSE(Child<QGroupBox>(d, "overflow")->isEnabled());
        EXPECT_TRUE(Child<QRadioButton>(d, "increaseSelection")->isChecked());
        Click(d, "ok");
    });
    ASSERT_TRUE(AskMix(nullptr, "Mix File", false, false, s.store, prompt, values));
    EXPECT_EQ(values.overflowMode, MixSettings::kIncreaseSelection);
    EXPECT_EQ(s.store.ReadInt("StoredValues", "LongerSelection", 0), MixSettings::kFadeOutMix);
}

TEST(EditDialogs, RefusalsOfSilenceAndSplitKeepTheDialogUntilCorrected) {
    PrivateSettings s;
    ScriptedPrompt prompt;
    OnModal("InsertSilence", [&](QDialog& d) {
        SetText(d, "time", "0");
        Click(d, "ok");
        ASSERT_TRUE(d.isVisible());
        SetText(d, "time", "1000");
        Click(d, "ok");
    });
    SilenceSettings silence;
    ASSERT_TRUE(AskInsertSilence(nullptr, s.store, prompt, silence));
    EXPECT_EQ(silence.milliseconds, 1000);
    EXPECT_EQ(s.store.ReadInt("StoredValues", "SilenceTimes", 0), 1000);

    OnModal("AutoSplitFile", [&](QDialog& d) {
        Child<DbEdit>(d, "threshold")->SetValue(-50);
        SetText(d, "duration", "-1");
        Click(d, "ok");
        ASSERT_TRUE(d.isVisible());
        SetText(d, "duration", "700");
        Click(d, "ok");
    });
    AutoSplitSettings split;
    ASSERT_TRUE(AskAutoSplit(nullptr, s.store, prompt, split));
    EXPECT_EQ(s.store.ReadInt("AutoSplit", "Threshold", 0), -50);
    EXPECT_EQ(s.store.ReadInt("AutoSplit", "Duration", 0), 700);

    ASSERT_EQ(prompt.History().size(), 2u);
    EXPECT_EQ(prompt.History()[0].title, "Invalid Silence Time");
    EXPECT_EQ(prompt.History()[0].text, "The specified silence time is not valid. Please try again.");
    EXPECT_EQ(prompt.History()[1].text, "The specified duration is not valid. Please try again.");

    // Cancel stores nothing.
    OnModal("RepeatLoop", [&](QDialog& d) {
        SetText(d, "times", "5");
        Click(d, "cancel");
    });
    RepeatSettings repeat;
    EXPECT_FALSE(AskRepeatLoop(nullptr, s.store, prompt, repeat));
    EXPECT_FALSE(s.store.ReadUserValue("StoredValues", "RepeatNumTimes"));
}

TEST(EditDialogs, SetDefaultsWritesTheDefaultFormatOnly) {
    PrivateSettings s;
    ScriptedPrompt prompt;
    OnModal("SetDefaults", [&](QDialog& d) {
        SetComboText(d, "sampleRate", "5999");
        Child<QRadioButton>(d, "stereo")->setChecked(true);
        Click(d, "ok");
        ASSERT_TRUE(d.isVisible());
        SetComboText(d, "sampleRate", "22050");
        Click(d, "ok");
    });
    NewFileSettings values;
    ASSERT_TRUE(AskNewFile(nullptr, "Set Defaults", s.store, prompt, values));
    ASSERT_EQ(prompt.History().size(), 1u);
    EXPECT_EQ(prompt.History()[0].text, "Sample rates must be between 6000 and 96000 samples per second.");
    EXPECT_EQ(prompt.History()[0].icon, PromptIcon::Error);
    EXPECT_EQ(s.store.ReadInt("Settings", "DefaultSampleRate", 0), 22050);
    EXPECT_EQ(s.store.ReadInt("Settings", "DefaultChannels", 0), 2);
    EXPECT_FALSE(s.store.ReadUserValue("Settings", "SelectedSampleRate"));
}

// Records what the selection did while the dialog was open.
class WatchingHost final : public DocumentHost {
public:
    UserPrompt& Prompt() override { return prompt_; }
    void DocumentChanged(SoundDocument& document) override {
        seen.emplace_back(document.selectionStart, document.selectionEnd);
    }
    std::vector<std::pair<int32_t, int32_t>> seen;

private:
    ScriptedPrompt prompt_;
};

TEST(EditDialogs, SelectSpecifiedTimeFollowsTheFieldsAndCancelRestores) {
    SoundDocument document(44100, 1);
    ASSERT_TRUE(ClipInsertSilence(document.clip, 441000, 0));
    document.selectionStart = 44100;
    document.selectionEnd = 88200;
    document.cursor = 50000;
    WatchingHost host;
    int previews = 0;
    const auto run = [&](const char* finalButton) {
        OnModal("SelectSpecifiedTime", [&, finalButton](QDialog& d) {
            EXPECT_EQ(Child<QLineEdit>(d, "start")->text(), "0:00:01.00");
            QLineEdit* start = Child<QLineEdit>(d, "start");
            start->selectAll();
            QTest::keyClicks(start, "0:00:00.5");
            EXPECT_EQ(document.selectionStart, 22050);
            EXPECT_EQ(document.selectionEnd, 88200);
            QLineEdit* end = Child<QLineEdit>(d, "end");
            end->selectAll();
            QTest::keyClicks(end, "3x");  // the letter leaves the selection as "3" made it
            EXPECT_EQ(document.selectionEnd, 132300);
            Click(d, "preview");
            Click(d, finalButton);
        });
        return AskSelectTime(nullptr, document, host, [&] { ++previews; });
    };
    EXPECT_FALSE(run("cancel"));
    EXPECT_FALSE(host.seen.empty());
    EXPECT_EQ(previews, 1);
    EXPECT_EQ(document.selectionStart, 44100);
    EXPECT_EQ(document.selectionEnd, 88200);
    EXPECT_EQ(document.cursor, 50000);

    EXPECT_TRUE(run("ok"));
    EXPECT_EQ(document.selectionStart, 22050);
    EXPECT_EQ(document.selectionEnd, 132300);
}

TEST(FormatDialogs, CodecSettingsAcceptOnlyRatesFrom6000To196000) {
    PrivateSettings s;
    ScriptedPrompt prompt;
    int32_t previous = DefaultRawSettings(kRawAudioSection).sampleRate;
    for (const char* good : {"6000", "196000"}) {
        OnModal("CodecSettings", [&](QDialog& d) {
            for (const char* bad : {"5999", "196001", ""}) {
                SetComboText(d, "sampleRate", bad);
                Click(d, "ok");
                ASSERT_TRUE(d.isVisible()) << bad;
            }
            EXPECT_EQ(LoadRawSettings(s.store, kRawAudioSection).sampleRate, previous);
            Child<QComboBox>(d, "codec")->setCurrentIndex(6);
            Child<QComboBox>(d, "channels")->setCurrentIndex(1);
            SetComboText(d, "sampleRate", good);
            Click(d, "ok");
        });
        ASSERT_TRUE(ShowFormatOptionsDialog(nullptr, ".RAW", 44100, 1, s.store, prompt));
        const RawSettings stored = LoadRawSettings(s.store, kRawAudioSection);
        EXPECT_EQ(stored.sampleRate, std::stoi(good));
        EXPECT_EQ(stored.codec, 6);
        EXPECT_EQ(stored.channels, 2);
        previous = stored.sampleRate;
    }
}

TEST(FormatDialogs, Mp3DialogStoresTheChoicesAndRestoresDefaults) {
    PrivateSettings s;
    ScriptedPrompt prompt;
    OnModal("MP3EncoderSettings", [&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "MP3 Encoder Settings");
        EXPECT_FALSE(Child<QComboBox>(d, "vbrMinBitRate")->isEnabled());
        Child<QRadioButton>(d, "vbr")->setChecked(true);
        EXPECT_TRUE(Child<QComboBox>(d, "vbrMinBitRate")->isEnabled());
        EXPECT_FALSE(Child<QComboBox>(d, "cbrBitRate")->isEnabled());
        SetComboText(d, "vbrMinBitRate", "64");
        SetComboText(d, "vbrMaxBitRate", "256");
        SetComboText(d, "vbrQuality", "9 (Lowest)");
        SetComboText(d, "channelMode", "Mono");
        Child<QCheckBox>(d, "errorProtection")->setChecked(true);
        Click(d, "ok");
    });
    ASSERT_TRUE(ShowFormatOptionsDialog(nullptr, "mp3", 44100, 2, s.store, prompt));
    Mp3EncoderSettings m = LoadMp3EncoderSettings(s.store);
    EXPECT_FALSE(m.constantBitRate);
    EXPECT_EQ(m.vbrMinBitRate, 64);
    EXPECT_EQ(m.vbrMaxBitRate, 256);
    EXPECT_EQ(m.vbrQuality, 9);
    EXPECT_EQ(m.channelMode, 3);
    EXPECT_TRUE(m.errorProtection);

    OnModal("MP3EncoderSettings", [&](QDialog& d) {
        EXPECT_TRUE(Child<QRadioButton>(d, "vbr")->isChecked());
        EXPECT_EQ(Child<QComboBox>(d, "vbrMaxBitRate")->currentText(), "256");
        Click(d, "restoreDefaults");
        SetComboText(d, "cbrBitRate", "320");
        Click(d, "ok");
    });
    ASSERT_TRUE(ShowFormatOptionsDialog(nullptr, ".mp3", 44100, 2, s.store, prompt));
    Mp3EncoderSettings expected;
    expected.cbrBitRate = 320;
    m = LoadMp3EncoderSettings(s.store);
    EXPECT_TRUE(m.constantBitRate);
    EXPECT_EQ(m.cbrBitRate, 320);
    EXPECT_EQ(m.vbrMinBitRate, expected.vbrMinBitRate);
    EXPECT_EQ(m.vbrMaxBitRate, expected.vbrMaxBitRate);
    EXPECT_EQ(m.channelMode, expected.channelMode);
    EXPECT_FALSE(m.errorProtection);
}

TEST(FormatDialogs, PlaylistAndWaveFormatOptionsStoreWhatWasChosen) {
    PrivateSettings s;
    ScriptedPrompt prompt;
    OnModal("RSSPodcastFileSettings", [&](QDialog& d) {
        SetText(d, "rootUrl", "http://example.org/casts");
        OnModal("MP3EncoderSettings", [](QDialog& mp3) { Click(mp3, "cancel"); });
        Click(d, "mp3Settings");
        Click(d, "ok");
    });
    ASSERT_TRUE(ShowFormatOptionsDialog(nullptr, ".rss", 44100, 1, s.store, prompt));
    EXPECT_EQ(s.store.ReadString("RSSEncode", "RootURL"), "http://example.org/casts");

    // The chooser starts at PCM of the document's format; a picked coding is
    // written to the saved format file.
    OnModal("SelectWaveFileFormat", [](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Select Wave File Format");
        EXPECT_EQ(Child<QComboBox>(d, "format")->currentText(), "PCM");
        EXPECT_EQ(Child<QComboBox>(d, "attributes")->currentText(), "22050 Hz, 16 bit, stereo, 88 kB/s");
        SetComboText(d, "format", "GSM 6.10");
        Child<QComboBox>(d, "attributes")->setCurrentIndex(0);
        Click(d, "ok");
    });
    ASSERT_TRUE(ShowFormatOptionsDialog(nullptr, "WAV", 22050, 2, s.store, prompt));
    const std::optional<WaveFormat> saved = LoadSavedWaveFormat(SavedWaveFormatPath());
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->tag, kWaveTagGsm610);

    EXPECT_TRUE(ShowFormatOptionsDialog(nullptr, ".au", 44100, 1, s.store, prompt));  // nothing to ask
}

TEST(FileDialogs, NameFiltersKeepTheDescriptionAndGiveQtThePatterns) {
    EXPECT_EQ(QtNameFilter({"Wave (*.wav)", "*.wav"}), "Wave (*.wav)");
    EXPECT_EQ(QtNameFilter({"Apple AIFF(*.aif, *.aiff)", "*.aif;*.aiff"}), "Apple AIFF(*.aif *.aiff)");
    EXPECT_EQ(QtNameFilter({"All Files", "*.*"}), "All Files (*)");
    EXPECT_EQ(QtNameFilter({"Audio Files", "*.wav;*.mp3"}), "Audio Files (*.wav *.mp3)");

    const std::vector<FileDialogFilter>& filters = OpenAudioFilters();
    ASSERT_EQ(filters.size(), 24u);
    EXPECT_EQ(filters[0].description, "All Files");
    EXPECT_EQ(filters[1].description, "Audio Files");
    EXPECT_EQ(filters[3].description, "Wave Files (*.wav)");
    EXPECT_EQ(filters[23].description, "Audio Video Interleave Files (*.avi)");

    // Qt's own reading of every entry, as the dialog applies it, must be
    // exactly the entry's patterns.
    const std::string folder = test::MakeTempFolder("open");
    for (const char* name : {"a.aif", "b.aiff", "c.wav"})
        QFile(QString::fromStdString(folder + "/" + name)).open(QIODevice::WriteOnly);
    OnModal("FileDialog", [&](QDialog& d) {
        auto& dialog = static_cast<QFileDialog&>(d);
        EXPECT_EQ(dialog.windowTitle(), "Open Audio File");
        EXPECT_EQ(dialog.selectedNameFilter().toStdString(), QtNameFilter(filters[7]));
        auto* model = dialog.findChild<QFileSystemModel*>();
        ASSERT_NE(model, nullptr);
        for (const FileDialogFilter& f : filters) {
            dialog.selectNameFilter(QString::fromStdString(QtNameFilter(f)));
            QString expected = QString::fromStdString(f.patterns).replace(';', ' ');
            if (expected == "*.*") expected = "*";
            EXPECT_EQ(model->nameFilters().join(' '), expected) << f.description;
        }
        Child<QLineEdit>(d, "fileNameEdit")->setText("\"a.aif\" \"b.aiff\"");
        static_cast<QDialog&>(dialog).accept();
    });
    QtFileChooser chooser;
    const std::vector<std::string> chosen =
        chooser.ChooseOpenFiles(nullptr, {"Open Audio File", folder, "wav", filters, 8, true});
    EXPECT_EQ(chosen, (std::vector<std::string>{folder + "/a.aif", folder + "/b.aiff"}));
}

TEST(FileDialogs, SaveAddsTheExtensionOfTheChosenTypeToABareName) {
    const std::string folder = test::MakeTempFolder("save");
    const std::vector<FileDialogFilter> filters = {{"Wave (*.wav)", "*.wav"},
                                                   {"MPEG Layer-3 (*.mp3)", "*.mp3"}};
    QtFileChooser chooser;
    OnModal("FileDialog", [](QDialog& d) { d.accept(); });
    EXPECT_EQ(chooser.ChooseSaveFile(nullptr, {"Save Audio File As", folder, "take", "wav", filters, 1}),
              folder + "/take.wav");

    OnModal("FileDialog", [](QDialog& d) {
        auto& dialog = static_cast<QFileDialog&>(d);
        QTest::keyClick(Child<QComboBox>(d, "fileTypeCombo"), Qt::Key_Down);
        Child<QLineEdit>(d, "fileNameEdit")->setText("song");
        static_cast<QDialog&>(dialog).accept();
    });
    EXPECT_EQ(chooser.ChooseSaveFile(nullptr, {"Save Audio File As", folder, "take", "wav", filters, 1}),
              folder + "/song.mp3");

    OnModal("FileDialog", [](QDialog& d) { static_cast<QFileDialog&>(d).reject(); });
    EXPECT_FALSE(chooser.ChooseSaveFile(nullptr, {"Save Audio File As", folder, "take", "wav", filters, 1}));
}

}  // namespace
}  // namespace sonitor
