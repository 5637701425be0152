#pragma once

namespace sonitor {

class DocumentHost;
class SettingsStore;
class TaskHost;

// What every edit operation works through: the host that shows documents
// and asks questions, the host that shows progress, and the settings store
// that holds the remembered values and "AutoPlaybackAfterEffects".
struct EditContext {
    DocumentHost& host;
    TaskHost& tasks;
    const SettingsStore& settings;
};

}  // namespace sonitor
