#pragma once

#include <optional>
#include <string>
#include <vector>

#include "document/DocumentHost.h"

class QWidget;

namespace sonitor {

// What an open dialog shows.
struct OpenFileDialog {
    std::string title;
    std::string folder;
    std::string defaultExtension;
    std::vector<FileDialogFilter> filters;
    int filterIndex = 1;  // counted from 1
    bool multiple = false;
};

// The platform's file dialogs behind one interface, so that tests can answer
// them from a script.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The chosen files (absolute paths), empty when cancelled.
    virtual std::vector<std::string> ChooseOpenFiles(QWidget* parent, const OpenFileDialog& dialog) = 0;
    virtual std::optional<std::string> ChooseSaveFile(QWidget* parent, const SaveFileDialog& dialog) = 0;
};

// QFileDialog, with the filters as "Description (patterns)" and the default
// extension added to a bare name (in a save dialog, once the user picks a
// type from the list, that type's extension).
class QtFileChooser final : public FileChooser {
public:
    std::vector<std::string> ChooseOpenFiles(QWidget* parent, const OpenFileDialog& dialog) override;
    std::optional<std::string> ChooseSaveFile(QWidget* parent, const SaveFileDialog& dialog) override;
};

// The Open Audio File filters, in order ("All Files" first).
const std::vector<FileDialogFilter>& OpenAudioFilters();
// A Qt name filter for one entry: "Wave (*.wav) (*.wav)" style text is
// avoided: the description is kept and the patterns added only when the
// description does not already show them. Qt reads blank-separated patterns
// from the last parentheses, so a shown list "(*.aif, *.aiff)" becomes
// "(*.aif *.aiff)"; "*.*" becomes "*" (every file, with a dot or not).
std::string QtNameFilter(const FileDialogFilter& filter);

}  // namespace sonitor
