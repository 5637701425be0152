#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "document/ProgressTask.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace sonitor {

// The progress dialog ("LProgressDialog"): text lines 100 and 101, the bar
// 102 (0..100), the spare text 199 and Cancel (2). Cancel (also Escape and
// the window's close button) hides it at once and tells the host, which
// destroys it; the task learns of it at its next pump.
class ProgressDialog final : public QDialog {
    Q_OBJECT
public:
    explicit ProgressDialog(QWidget* owner);
    // line 0 or 1; any other number sets the spare text.
    void SetLine(int line, const QString& text);
    void SetPercent(int percent);
    int Percent() const;
    QString Line(int line) const;
    bool Cancelled() const { return cancelled_; }
    // As if the user pressed Cancel.
    void Cancel();
    void reject() override { Cancel(); }

signals:
    void CancelPressed();

private:
    QLabel* lines_[2] = {};
    QLabel* spare_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool cancelled_ = false;
};

// The editor's TaskHost: the owner is disabled while the task runs on the
// user-interface thread, events are pumped between blocks, and Cancel ends
// the task. Only one task at a time: OpenProgress refuses a second one.
//
// The dialog is a window of its own, merely kept above the owner: were it
// the owner's child, disabling the owner would disable its Cancel button.
class QtTaskHost final : public TaskHost {
public:
    explicit QtTaskHost(QWidget* owner);
    ~QtTaskHost() override;

    bool OpenProgress(ProgressTask& task) override;
    void CloseProgress(ProgressTask& task) override;
    void SetProgressText(ProgressTask& task, int line, const std::string& text) override;
    void SetProgressPercent(ProgressTask& task, int percent) override;
    bool Pump(ProgressTask& task) override;
    void ShowTaskError(ProgressTask& task, const std::string& text) override;

    // A task is running (its dialog may already be gone after Cancel).
    bool Busy() const { return running_ != nullptr; }
    // The dialog of the running task, or null (also once it was cancelled).
    ProgressDialog* Dialog() const { return dialog_.get(); }
    // Called with the dialog right after it is shown (tests press Cancel or
    // look at it from here).
    void SetDialogShownHook(std::function<void(ProgressDialog&)> hook) { shownHook_ = std::move(hook); }
    // Error messages go here when set (tests), else to a message box.
    void SetErrorSink(std::function<void(const std::string&)> sink) { errorSink_ = std::move(sink); }

private:
    void OnCancel();

    QWidget* owner_;
    ProgressTask* running_ = nullptr;
    std::unique_ptr<ProgressDialog> dialog_;
    // A cancelled dialog waits here until the next pump: it cannot be
    // destroyed inside its own button's click.
    std::unique_ptr<ProgressDialog> retired_;
    bool cancelled_ = false;
    std::function<void(ProgressDialog&)> shownHook_;
    std::function<void(const std::string&)> errorSink_;
};

}  // namespace sonitor
