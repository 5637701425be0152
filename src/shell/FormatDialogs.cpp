#include "shell/FormatDialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>
#include <vector>

#include "formats/export/EncoderCommands.h"
#include "formats/export/ExportDispatcher.h"
#include "formats/playlists/PlaylistFile.h"
#include "formats/raw/RawSettings.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"
#include "foundation/UserPrompt.h"
#include "shell/CheckedDialog.h"

namespace sonitor {

namespace {

// A list of numbers; the item data is the value.
QComboBox* NumberCombo(QWidget* parent, const char* name, std::initializer_list<int> values) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    for (int v : values)
        combo->addItem(QString::number(v), v);
    return combo;
}

// A list of labels whose item data is their index, or first + index.
QComboBox* LabelCombo(QWidget* parent, const char* name, const QStringList& labels, int first = 0) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    for (int i = 0; i < labels.size(); ++i)
        combo->addItem(labels[i], first + i);
    return combo;
}

// "0 (Highest)", "1", ..., "9 (Lowest)".
QStringList ScaleLabels(int last, const char* firstNote, const char* lastNote) {
    QStringList labels;
    for (int i = 0; i <= last; ++i)
        labels << QString::number(i);
    labels.front() += QStringLiteral(" (%1)").arg(QString::fromLatin1(firstNote));
    labels.back() += QStringLiteral(" (%1)").arg(QString::fromLatin1(lastNote));
    return labels;
}

// Selects the item holding value. A stored value that the list does not
// offer (set by hand or by an older version) is added in order rather than
// silently replaced by another on OK.
void SelectValue(QComboBox* combo, int value) {
    int index = combo->findData(value);
    if (index < 0) {
        index = 0;
        while (index < combo->count() && combo->itemData(index).toInt() < value)
            ++index;
        combo->insertItem(index, QString::number(value), value);
    }
    combo->setCurrentIndex(index);
}

int Value(const QComboBox* combo) {
    return combo->currentData().toInt();
}

QCheckBox* Check(QWidget* parent, const char* text, const char* name) {
    auto* box = new QCheckBox(QString::fromUtf8(text), parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

// Two radio buttons, each with the controls that belong to it below; the
// controls of the other choice are disabled.
struct ChoicePair {
    QRadioButton* first;
    QRadioButton* second;
};

ChoicePair AddChoices(CheckedDialog& dialog, const char* firstText, const char* firstName,
                      const std::vector<QWidget*>& firstControls, const std::vector<QString>& firstLabels,
                      const char* secondText, const char* secondName,
                      const std::vector<QWidget*>& secondControls, const std::vector<QString>& secondLabels) {
    auto* group = new QButtonGroup(&dialog);
    const auto add = [&](const char* text, const char* name, const std::vector<QWidget*>& controls,
                         const std::vector<QString>& labels) {
        QRadioButton* radio = MakeRadio(&dialog, text, name);
        group->addButton(radio);
        dialog.Layout()->addWidget(radio);
        auto* form = new QFormLayout;
        form->setContentsMargins(24, 0, 0, 0);
        for (size_t i = 0; i < controls.size(); ++i) {
            if (i < labels.size() && !labels[i].isEmpty())
                form->addRow(labels[i], controls[i]);
            else
                form->addRow(controls[i]);
        }
        dialog.Layout()->addLayout(form);
        QObject::connect(radio, &QRadioButton::toggled, &dialog, [controls](bool on) {
            for (QWidget* w : controls)
                w->setEnabled(on);
        });
        for (QWidget* w : controls)
            w->setEnabled(false);
        return radio;
    };
    return {add(firstText, firstName, firstControls, firstLabels),
            add(secondText, secondName, secondControls, secondLabels)};
}

constexpr std::initializer_list<int> kMp3BitRates = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                                                     96, 112, 128, 144, 160, 192, 224, 256, 320};
constexpr std::initializer_list<int> kOggBitRates = {32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192};
constexpr std::initializer_list<int> kFlacRates = {6000,  8000,  11025, 16000, 22050, 32000,
                                                   44100, 48000, 64000, 88200, 96000, 196000};
constexpr std::initializer_list<int> kAacBitRates = {16,  24,  32,  40,  48,  56,  64,  80, 96,
                                                     112, 128, 144, 160, 192, 224, 256, 320};
constexpr std::initializer_list<int> kAacQualities = {10, 50, 100, 150, 200, 250, 300, 350, 400, 450, 500};

QStringList ChannelLabels() {
    return {QStringLiteral("Mono"), QStringLiteral("Stereo")};
}

bool ShowMp3Dialog(QWidget* parent, const SettingsStore& settings) {
    CheckedDialog dialog(parent, QStringLiteral("MP3 Encoder Settings"));
    QComboBox* bitRate = NumberCombo(&dialog, "cbrBitRate", kMp3BitRates);
    QCheckBox* highQuality = Check(&dialog, "High quality encoding (slower)", "highQuality");
    QComboBox* minRate = NumberCombo(&dialog, "vbrMinBitRate", kMp3BitRates);
    QComboBox* maxRate = NumberCombo(&dialog, "vbrMaxBitRate", kMp3BitRates);
    QComboBox* quality = LabelCombo(&dialog, "vbrQuality", ScaleLabels(9, "Highest", "Lowest"));
    const ChoicePair mode = AddChoices(dialog, "Constant Bitrate (CBR)", "cbr", {bitRate, highQuality},
                                       {QStringLiteral("Bitrate (kbps):")}, "Variable Bitrate (VBR)", "vbr",
                                       {minRate, maxRate, quality},
                                       {QStringLiteral("Minimum Bitrate (kbps)"),
                                        QStringLiteral("Maximum Bitrate (kbps)"), QStringLiteral("Quality")});
    QFormLayout* form = dialog.AddForm();
    QComboBox* channelMode = LabelCombo(
        &dialog, "channelMode",
        {QStringLiteral("Stereo"), QStringLiteral("Joint"), QStringLiteral("Force"), QStringLiteral("Mono")});
    form->addRow(QStringLiteral("Channels"), channelMode);
    QCheckBox* crc = Check(&dialog, "Include CRC to detect errors", "errorProtection");
    form->addRow(crc);

    const auto show = [&](const Mp3EncoderSettings& s) {
        (s.constantBitRate ? mode.first : mode.second)->setChecked(true);
        SelectValue(bitRate, s.cbrBitRate);
        highQuality->setChecked(s.highQuality);
        SelectValue(minRate, s.vbrMinBitRate);
        SelectValue(maxRate, s.vbrMaxBitRate);
        SelectValue(quality, s.vbrQuality);
        SelectValue(channelMode, s.channelMode);
        crc->setChecked(s.errorProtection);
    };
    show(LoadMp3EncoderSettings(settings));
    dialog.AddButtons([&] { show(Mp3EncoderSettings{}); });
    if (dialog.exec() != QDialog::Accepted) return false;

    Mp3EncoderSettings s;
    s.constantBitRate = mode.first->isChecked();
    s.cbrBitRate = static_cast<uint16_t>(Value(bitRate));
    s.highQuality = highQuality->isChecked();
    s.vbrMinBitRate = static_cast<uint16_t>(Value(minRate));
    s.vbrMaxBitRate = static_cast<uint16_t>(Value(maxRate));
    s.vbrQuality = static_cast<uint8_t>(Value(quality));
    s.channelMode = static_cast<uint8_t>(Value(channelMode));
    s.errorProtection = crc->isChecked();
    StoreMp3EncoderSettings(settings, s);
    return true;
}

bool ShowOggDialog(QWidget* parent, const SettingsStore& settings) {
    CheckedDialog dialog(parent, QStringLiteral("Ogg Encoder Settings"));
    QComboBox* quality = LabelCombo(&dialog, "vbrQuality", ScaleLabels(10, "Lowest", "Highest"));
    QComboBox* minRate = NumberCombo(&dialog, "vbrMinBitRate", kOggBitRates);
    QComboBox* maxRate = NumberCombo(&dialog, "vbrMaxBitRate", kOggBitRates);
    const ChoicePair mode = AddChoices(
        dialog, "Quality", "quality", {quality}, {}, "Variable Bitrate (VBR)", "vbr", {minRate, maxRate},
        {QStringLiteral("Minimum Bitrate (kbps)"), QStringLiteral("Maximum Bitrate (kbps)")});
    QFormLayout* form = dialog.AddForm();
    QComboBox* channels = LabelCombo(&dialog, "channels", ChannelLabels(), 1);
    form->addRow(QStringLiteral("Channels"), channels);
    QCheckBox* strip = Check(&dialog, "Discard Comments", "stripComments");
    form->addRow(strip);

    const auto show = [&](const OggEncoderSettings& s) {
        (s.qualityMode ? mode.first : mode.second)->setChecked(true);
        SelectValue(quality, s.vbrQuality);
        SelectValue(minRate, s.vbrMinBitRate);
        SelectValue(maxRate, s.vbrMaxBitRate);
        SelectValue(channels, s.channels);
        strip->setChecked(s.stripComments);
    };
    show(LoadOggEncoderSettings(settings));
    dialog.AddButtons([&] { show(OggEncoderSettings{}); });
    if (dialog.exec() != QDialog::Accepted) return false;

    OggEncoderSettings s;
    s.qualityMode = mode.first->isChecked();
    s.vbrQuality = static_cast<uint8_t>(Value(quality));
    s.vbrMinBitRate = static_cast<uint16_t>(Value(minRate));
    s.vbrMaxBitRate = static_cast<uint16_t>(Value(maxRate));
    s.channels = static_cast<uint8_t>(Value(channels));
    s.stripComments = strip->isChecked();
    StoreOggEncoderSettings(settings, s);
    return true;
}

bool ShowFlacDialog(QWidget* parent, const SettingsStore& settings) {
    CheckedDialog dialog(parent, QStringLiteral("Flac Encoder Settings"));
    QFormLayout* form = dialog.AddForm();
    QComboBox* compression = LabelCombo(&dialog, "compression", ScaleLabels(8, "fastest", "best"));
    form->addRow(QStringLiteral("Compression Level"), compression);
    QComboBox* rate = NumberCombo(&dialog, "sampleRate", kFlacRates);
    form->addRow(QStringLiteral("Sample Rate"), rate);
    QComboBox* channels = LabelCombo(&dialog, "channels", ChannelLabels(), 1);
    form->addRow(QStringLiteral("Channels"), channels);

    const auto show = [&](const FlacEncoderSettings& s) {
        SelectValue(compression, s.compression);
        SelectValue(rate, static_cast<int>(s.sampleRate));
        SelectValue(channels, s.channels);
    };
    show(LoadFlacEncoderSettings(settings));
    dialog.AddButtons([&] { show(FlacEncoderSettings{}); });
    if (dialog.exec() != QDialog::Accepted) return false;

    FlacEncoderSettings s;
    s.compression = static_cast<uint8_t>(Value(compression));
    s.sampleRate = static_cast<uint32_t>(Value(rate));
    s.channels = static_cast<uint8_t>(Value(channels));
    StoreFlacEncoderSettings(settings, s);
    return true;
}

bool ShowAacDialog(QWidget* parent, const SettingsStore& settings) {
    CheckedDialog dialog(parent, QStringLiteral("AAC / M4A Encoder Settings"));
    QComboBox* bitRate = NumberCombo(&dialog, "abrBitRate", kAacBitRates);
    QComboBox* quality = NumberCombo(&dialog, "vbrQuality", kAacQualities);
    const ChoicePair mode =
        AddChoices(dialog, "Average Bitrate (ABR)", "abr", {bitRate}, {QStringLiteral("Bitrate (kbps):")},
                   "Variable Bitrate (VBR)", "vbr", {quality}, {QStringLiteral("Quality (%):")});
    QFormLayout* form = dialog.AddForm();
    QCheckBox* mpeg2 = Check(&dialog, "Force MPEG2 Output", "forceMpeg2");
    form->addRow(mpeg2);
    QCheckBox* noTns = Check(&dialog, "Disable Temporal Noise Shaping", "disableTns");
    form->addRow(noTns);

    const auto show = [&](const AacEncoderSettings& s) {
        (s.averageBitRate ? mode.first : mode.second)->setChecked(true);
        SelectValue(bitRate, s.abrBitRate);
        SelectValue(quality, s.vbrQuality);
        mpeg2->setChecked(s.forceMpeg2);
        noTns->setChecked(s.disableTns);
    };
    show(LoadAacEncoderSettings(settings));
    dialog.AddButtons([&] { show(AacEncoderSettings{}); });
    if (dialog.exec() != QDialog::Accepted) return false;

    AacEncoderSettings s;
    s.averageBitRate = mode.first->isChecked();
    s.abrBitRate = static_cast<uint16_t>(Value(bitRate));
    s.vbrQuality = static_cast<uint16_t>(Value(quality));
    s.forceMpeg2 = mpeg2->isChecked();
    s.disableTns = noTns->isChecked();
    StoreAacEncoderSettings(settings, s);
    return true;
}

bool ShowAmrDialog(QWidget* parent, const SettingsStore& settings) {
    CheckedDialog dialog(parent, QStringLiteral("AMR Encoder Settings"));
    QFormLayout* form = dialog.AddForm();
    static_assert(kAmrModes.size() == 8);
    QComboBox* rate = LabelCombo(
        &dialog, "modeRateSelection",
        {QStringLiteral("4.75"), QStringLiteral("5.15"), QStringLiteral("5.9"), QStringLiteral("6.7"),
         QStringLiteral("7.4"), QStringLiteral("7.95"), QStringLiteral("10.2"), QStringLiteral("12.2")});
    form->addRow(QStringLiteral("Encoding Bitrate (kbps):"), rate);

    const auto show = [&](const AmrEncoderSettings& s) {
        rate->setCurrentIndex(std::min<int>(s.modeRateSelection, rate->count() - 1));
    };
    show(LoadAmrEncoderSettings(settings));
    dialog.AddButtons([&] { show(AmrEncoderSettings{}); });
    if (dialog.exec() != QDialog::Accepted) return false;

    AmrEncoderSettings s;
    s.modeRateSelection = static_cast<uint8_t>(Value(rate));
    StoreAmrEncoderSettings(settings, s);
    return true;
}

bool ShowPlaylistDialog(QWidget* parent, const QString& title, const SettingsStore& settings) {
    CheckedDialog dialog(parent, title);
    QFormLayout* form = dialog.AddForm();
    auto* rootUrl = new QLineEdit(QString::fromStdString(ReadPlaylistRootUrl(settings)), &dialog);
    rootUrl->setObjectName(QStringLiteral("rootUrl"));
    form->addRow(QStringLiteral("Root URL:"), rootUrl);
    auto* mp3 = new QPushButton(QStringLiteral("MP3 Settings ..."), &dialog);
    mp3->setObjectName(QStringLiteral("mp3Settings"));
    form->addRow(mp3);
    // The audio of a playlist is an MP3: its settings are edited (and
    // stored) on their own, whatever this dialog ends with.
    QObject::connect(mp3, &QPushButton::clicked, &dialog, [&] { ShowMp3Dialog(&dialog, settings); });
    dialog.AddButtons({}, true);
    if (dialog.exec() != QDialog::Accepted) return false;
    settings.WriteString("RSSEncode", "RootURL", rootUrl->text().trimmed().toStdString());
    return true;
}

bool ShowWaveFormatChooser(QWidget* parent, int32_t rate, int channels, UserPrompt& prompt) {
    const std::string path = SavedWaveFormatPath();
    std::optional<WaveFormat> saved = LoadSavedWaveFormat(path);
    WaveFormat format = saved ? *saved
                              : MakePcmWaveFormat(static_cast<uint32_t>(std::max(rate, 1)), 16,
                                                  static_cast<uint16_t>(std::clamp(channels, 1, 2)));
    const WaveFormatPicker picker =
        [parent](const std::string& title, const std::vector<WaveFormatChoice>& choices,
                 const WaveFormat& initial) { return PickWaveFormat(parent, title, choices, initial); };
    if (!ChooseWaveFormat(format, picker, prompt)) return false;
    if (StoreSavedWaveFormat(path, format)) return true;
    // The save would go on in the format saved before: better to stop here
    // than to write a file in a format the user did not choose.
    prompt.Tell("Sonitor",
                Format("The chosen wave format cannot be remembered in \"%s\". Please check that the folder "
                       "exists and that you may write to it, then try again.",
                       path.c_str()),
                PromptIcon::Error);
    return false;
}

// PCM is the plain coding the compressed list leaves out; offered first.
std::vector<WaveFormatChoice> PcmChoices() {
    static constexpr uint32_t kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000};
    std::vector<WaveFormatChoice> list;
    for (uint16_t bits : {8, 16, 24, 32})
        for (uint16_t ch = 1; ch <= 2; ++ch)
            for (uint32_t r : kRates) {
                WaveFormat f = MakePcmWaveFormat(r, bits, ch);
                std::string name = Format("PCM: %u Hz, %u bit, %s, %u kB/s", r, bits,
                                          ch == 1 ? "mono" : "stereo", (f.avgBytesPerSec + 500) / 1000);
                list.push_back({std::move(f), std::move(name)});
            }
    return list;
}

// "Coding: attributes" names split into the two lists of the chooser.
QString CodingOf(const std::string& name) {
    const size_t colon = name.find(": ");
    return QString::fromStdString(colon == std::string::npos ? name : name.substr(0, colon));
}

QString AttributesOf(const std::string& name) {
    const size_t colon = name.find(": ");
    return QString::fromStdString(colon == std::string::npos ? name : name.substr(colon + 2));
}

}  // namespace

bool ShowCodecSettingsDialog(QWidget* parent, const std::string& section, const SettingsStore& settings) {
    const RawSettings stored = LoadRawSettings(settings, section);
    CheckedDialog dialog(parent, QStringLiteral("Codec Settings"));
    QFormLayout* form = dialog.AddForm();
    QComboBox* codec = LabelCombo(
        &dialog, "codec",
        {QStringLiteral("Dialogic ADPCM"), QStringLiteral("G711 uLaw"), QStringLiteral("G711 aLaw"),
         QStringLiteral("16 bit PCM (LE)"), QStringLiteral("8 bit unsigned"), QStringLiteral("8 bit signed"),
         QStringLiteral("16 bit PCM (BE)")});
    codec->setCurrentIndex(codec->findData(stored.codec));
    form->addRow(QStringLiteral("Format"), codec);

    QComboBox* rate = MakeRateCombo(&dialog, "sampleRate", kRawRateChoices, stored.sampleRate);
    form->addRow(QStringLiteral("Sample"), rate);

    QComboBox* channels =
        LabelCombo(&dialog, "channels", {QStringLiteral("1 - Mono"), QStringLiteral("2 - Stereo")}, 1);
    SelectValue(channels, stored.channels);
    form->addRow(QStringLiteral("Channels"), channels);

    dialog.AddButtons({}, true);
    dialog.check = [&] {
        RawSettings s = stored;
        if (codec->currentIndex() >= 0) s.codec = Value(codec);
        s.sampleRate = NumberFieldValue(rate->currentText());
        s.channels = static_cast<uint8_t>(Value(channels));
        if (AcceptCodecSettings(settings, section, s)) return true;
        // Refused without a message: point at the rate so it can be fixed.
        rate->setFocus();
        rate->lineEdit()->selectAll();
        return false;
    };
    return dialog.exec() == QDialog::Accepted;
}

std::optional<WaveFormat> PickWaveFormat(QWidget* parent, const std::string& title,
                                         const std::vector<WaveFormatChoice>& choices,
                                         const WaveFormat& initial) {
    std::vector<WaveFormatChoice> all = PcmChoices();
    all.insert(all.end(), choices.begin(), choices.end());
    const auto found =
        std::find_if(all.begin(), all.end(), [&](const WaveFormatChoice& c) { return c.format == initial; });
    size_t initialIndex = static_cast<size_t>(found - all.begin());
    if (found == all.end()) {
        // A format from elsewhere (an older save, a hand-made record) stays
        // selectable as it is.
        all.insert(all.begin(),
                   {initial,
                    Format("Current format: %u Hz, %u channel(s), %u bit, %u kB/s", initial.samplesPerSec,
                           initial.channels, initial.bitsPerSample, (initial.avgBytesPerSec + 500) / 1000)});
        initialIndex = 0;
    }

    CheckedDialog dialog(parent, QString::fromStdString(title));
    QFormLayout* form = dialog.AddForm();
    auto* coding = new QComboBox(&dialog);
    coding->setObjectName(QStringLiteral("format"));
    auto* attributes = new QComboBox(&dialog);
    attributes->setObjectName(QStringLiteral("attributes"));
    attributes->setMinimumContentsLength(36);
    form->addRow(QStringLiteral("&Format:"), coding);
    form->addRow(QStringLiteral("&Attributes:"), attributes);
    for (const WaveFormatChoice& c : all)
        if (coding->findText(CodingOf(c.name)) < 0) coding->addItem(CodingOf(c.name));

    // The attributes list holds the choices of the selected coding; item
    // data is the index into `all`.
    const auto fill = [&](const QString& name, size_t select) {
        attributes->clear();
        for (size_t i = 0; i < all.size(); ++i) {
            if (CodingOf(all[i].name) != name) continue;
            attributes->addItem(AttributesOf(all[i].name), static_cast<qulonglong>(i));
            if (i == select) attributes->setCurrentIndex(attributes->count() - 1);
        }
    };
    coding->setCurrentText(CodingOf(all[initialIndex].name));
    fill(coding->currentText(), initialIndex);
    QObject::connect(coding, &QComboBox::currentTextChanged, &dialog,
                     [&](const QString& name) { fill(name, all.size()); });

    dialog.AddButtons();
    if (dialog.exec() != QDialog::Accepted || attributes->currentIndex() < 0) return std::nullopt;
    return all[static_cast<size_t>(attributes->currentData().toULongLong())].format;
}

bool ShowFormatOptionsDialog(QWidget* parent, const std::string& extension, int32_t rate, int channels,
                             const SettingsStore& settings, UserPrompt& prompt) {
    std::string dotted = extension;
    if (dotted.empty() || dotted.front() != '.') dotted.insert(dotted.begin(), '.');
    const std::optional<ExportFormat> format = ExportFormatFor(dotted);
    if (!format) return true;
    switch (format->route) {
        case ExportRoute::Wav:
            return ShowWaveFormatChooser(parent, rate, channels, prompt);
        case ExportRoute::Vox:
            return ShowCodecSettingsDialog(parent, kVoxAudioSection, settings);
        case ExportRoute::Raw:
            return ShowCodecSettingsDialog(parent, kRawAudioSection, settings);
        case ExportRoute::Playlist: {
            const bool rss = PlaylistKindForExtension(dotted) == PlaylistKind::Rss;
            return ShowPlaylistDialog(
                parent,
                rss ? QStringLiteral("RSS Podcast File Settings") : QStringLiteral("Playlist File Settings"),
                settings);
        }
        case ExportRoute::Encoder:
            switch (format->encoder) {
                case EncoderKind::Mp3:
                    return ShowMp3Dialog(parent, settings);
                case EncoderKind::Ogg:
                    return ShowOggDialog(parent, settings);
                case EncoderKind::Flac:
                    return ShowFlacDialog(parent, settings);
                case EncoderKind::Aac:
                case EncoderKind::M4a:
                    return ShowAacDialog(parent, settings);
                case EncoderKind::Amr:
                    return ShowAmrDialog(parent, settings);
            }
            return true;
        case ExportRoute::Aiff:
        case ExportRoute::Au:
        case ExportRoute::Gsm:
            return true;
    }
    return true;
}

}  // namespace sonitor
