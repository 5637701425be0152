#include "shell/FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include "foundation/Paths.h"

namespace sonitor {

namespace {

// The patterns of an entry, one each, as the file dialog matches them.
// "*.*" means every file where it comes from; here it would only match
// names with a dot.
QStringList QtPatterns(const std::string& patterns) {
    QStringList out;
    for (const QString& p : QString::fromStdString(patterns).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString pattern = p.trimmed();
        if (pattern.isEmpty()) continue;
        out << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
    }
    return out;
}

// The extension a filter stands for ("mp3" for "*.mp3;*.mp2"), or empty
// when its first pattern is not a plain "*.ext".
QString FilterExtension(const FileDialogFilter& filter) {
    const QStringList patterns = QtPatterns(filter.patterns);
    if (patterns.isEmpty()) return {};
    static const QRegularExpression plain(QStringLiteral("^\\*\\.([A-Za-z0-9]+)$"));
    const QRegularExpressionMatch match = plain.match(patterns.front());
    return match.hasMatch() ? match.captured(1) : QString();
}

QStringList NameFilters(const std::vector<FileDialogFilter>& filters) {
    QStringList out;
    for (const FileDialogFilter& f : filters)
        out << QString::fromStdString(QtNameFilter(f));
    return out;
}

void ApplyCommon(QFileDialog& dialog, const std::string& title, const std::string& folder,
                 const std::vector<FileDialogFilter>& filters, int filterIndex) {
    dialog.setObjectName(QStringLiteral("FileDialog"));
    dialog.setWindowTitle(QString::fromStdString(title));
    // The same dialog everywhere (and under the offscreen test platform).
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (!folder.empty() && QDir(QString::fromStdString(folder)).exists())
        dialog.setDirectory(QString::fromStdString(folder));
    const QStringList names = NameFilters(filters);
    if (!names.isEmpty()) {
        dialog.setNameFilters(names);
        const int index = filterIndex >= 1 && filterIndex <= names.size() ? filterIndex - 1 : 0;
        dialog.selectNameFilter(names[index]);
    }
}

}  // namespace

std::string QtNameFilter(const FileDialogFilter& filter) {
    const QString description = QString::fromStdString(filter.description).trimmed();
    const QStringList patterns = QtPatterns(filter.patterns);
    if (patterns.isEmpty()) return description.toStdString();

    // A description ending in its own pattern list, such as "Apple AIFF(*.aif,
    // *.aiff)", already shows them; the dialog reads only blank-separated
    // patterns from the last parentheses, so the commas go.
    static const QRegularExpression shown(QStringLiteral("^(.*)\\(([^()]*)\\)$"));
    const QRegularExpressionMatch match = shown.match(description);
    if (match.hasMatch()) {
        QStringList listed =
            match.captured(2).split(QRegularExpression(QStringLiteral("[,; ]+")), Qt::SkipEmptyParts);
        for (QString& p : listed)
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
        QStringList a = listed, b = patterns;
        a.sort();
        b.sort();
        if (a == b)
            return (match.captured(1) + QLatin1Char('(') + listed.join(QLatin1Char(' ')) + QLatin1Char(')'))
                .toStdString();
    }
    return (description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'))
        .toStdString();
}

const std::vector<FileDialogFilter>& OpenAudioFilters() {
    static const std::vector<FileDialogFilter> filters = {
        {"All Files", "*.*"},
        {"Audio Files",
         "*.wav;*.mp3;*.ogg;*.wma;*.aif;*.aiff;*.au;*.ra;*.ram;*.flac;*.aac;*.gsm;*.vox;*.raw;*.dss;*.dct;*."
         "m4a;"
         "*.mp2;*.sri;*.mpga;*.msv;*.dvf;*.act;*.rcd;*.rec;*.shn;*.amr"},
        {"Video Files (*.avi, *.mpg, *.mpeg, *.wmv)", "*.avi;*.mpg;*.mpeg;*.wmv"},
        {"Wave Files (*.wav)", "*.wav"},
        {"MPEG Layer-3 Files (*.mp3, *.mp2, *.mpga)", "*.mp3;*.mp2;*.mpga"},
        {"Ogg Vorbis Files (*.ogg)", "*.ogg"},
        {"Windows Media Audio Files (*.wma)", "*.wma"},
        {"Apple AIFF Files (*.aif, *.aiff)", "*.aif;*.aiff"},
        {"Sun AU Files (*.au)", "*.au"},
        {"Real Audio Files (*.ra, *.ram, *.rm, *.rmj)", "*.ra;*.ram;*.rm;*.rmj"},
        {"FLAC Files (*.flac)", "*.flac"},
        {"AAC Files (*.aac, *.m4a)", "*.aac;*.m4a"},
        {"GSM Files (*.gsm)", "*.gsm"},
        {"Dialogic Vox Files (*.vox)", "*.vox"},
        {"Raw Audio Files (*.raw)", "*.raw"},
        {"DSS Files (*.dss)", "*.dss"},
        {"VoiceIt Files (*.sri)", "*.sri"},
        {"Dictation Files (*.dct)", "*.dct"},
        {"Record Files (*.act, *.rcd, *.rec)", "*.act;*.rcd;*.rec"},
        {"Shorten Files (*.shn)", "*.shn"},
        {"AMR Narrowband Audio Files (*.amr)", "*.amr"},
        {"Windows Media Video Files (*.wmv)", "*.wmv"},
        {"MPEG Video Files (*.mpg, *.mpeg)", "*.mpg;*.mpeg"},
        {"Audio Video Interleave Files (*.avi)", "*.avi"},
    };
    return filters;
}

std::vector<std::string> QtFileChooser::ChooseOpenFiles(QWidget* parent, const OpenFileDialog& request) {
    QFileDialog dialog(parent);
    ApplyCommon(dialog, request.title, request.folder, request.filters, request.filterIndex);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    std::vector<std::string> chosen;
    if (dialog.exec() != QDialog::Accepted) return chosen;
    for (const QString& file : dialog.selectedFiles())
        chosen.push_back(QDir::cleanPath(QFileInfo(file).absoluteFilePath()).toStdString());
    return chosen;
}

std::optional<std::string> QtFileChooser::ChooseSaveFile(QWidget* parent, const SaveFileDialog& request) {
    QFileDialog dialog(parent);
    ApplyCommon(dialog, request.title, request.folder, request.filters, request.filterIndex);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The replace question is asked by the caller, which may show the
    // dialog again.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);

    // A bare name gets the default extension; once the user picks a type in
    // the list, that type's extension instead, so "song" under the MP3
    // entry is saved as MP3. Entries without a plain extension fall back
    // to the default.
    const QString fallback = QString::fromStdString(request.defaultExtension);
    const QStringList names = NameFilters(request.filters);
    const auto suffixFor = [&](const QString& nameFilter) {
        const qsizetype i = names.indexOf(nameFilter);
        const QString ext = i >= 0 ? FilterExtension(request.filters[static_cast<size_t>(i)]) : QString();
        return ext.isEmpty() ? fallback : ext;
    };
    dialog.setDefaultSuffix(fallback);
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&](const QString& nameFilter) { dialog.setDefaultSuffix(suffixFor(nameFilter)); });
    if (!request.fileName.empty()) dialog.selectFile(QString::fromStdString(request.fileName));

    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return QDir::cleanPath(QFileInfo(files.front()).absoluteFilePath()).toStdString();
}

}  // namespace sonitor
