#pragma once

#include <functional>
#include <string>

#include "edit/EditSettings.h"

class QWidget;

namespace sonitor {

class DocumentHost;
class SettingsStore;
class SoundDocument;
class UserPrompt;

// The dialogs of the Edit menu. Each one loads its remembered values, shows
// them, refuses invalid values on OK with the record's message (the dialog
// stays open), stores them and returns true with the values in `values`;
// false on Cancel. Their objectName is the dialog's title without spaces
// ("RepeatLoop", "InsertSilence", "PasteMix"/"MixFile", "AutoSplitFile",
// "SelectSpecifiedTime", "NewFile"/"SetDefaults") and controls carry a
// "ctrlId" property, so tests find them.

bool AskRepeatLoop(QWidget* parent, const SettingsStore& settings, UserPrompt& prompt,
                   RepeatSettings& values);
bool AskInsertSilence(QWidget* parent, const SettingsStore& settings, UserPrompt& prompt,
                      SilenceSettings& values);
// title: "Paste Mix" or "Mix File". The pan slider is enabled only for a
// stereo document; without a selection the overflow choices are disabled
// and "Increase se&lection" is chosen (returned in `values`; the stored
// choice is left as it was, the user having made none).
bool AskMix(QWidget* parent, const std::string& title, bool stereo, bool hasSelection,
            const SettingsStore& settings, UserPrompt& prompt, MixSettings& values);
bool AskAutoSplit(QWidget* parent, const SettingsStore& settings, UserPrompt& prompt,
                  AutoSplitSettings& values);
// title "New File" (selected format) or "Set Defaults" (the defaults).
bool AskNewFile(QWidget* parent, const std::string& title, const SettingsStore& settings, UserPrompt& prompt,
                NewFileSettings& values);
// Select Specified Time: the selection follows the two fields while they
// are edited (through the host, so the window redraws); "Pre&view" calls
// preview. Cancel puts the selection back as it was.
bool AskSelectTime(QWidget* parent, SoundDocument& document, DocumentHost& host,
                   std::function<void()> preview);

}  // namespace sonitor
