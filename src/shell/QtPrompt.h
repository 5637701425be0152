#pragma once

#include "foundation/UserPrompt.h"

class QWidget;

namespace sonitor {

// Message boxes with the given title, text, icon and buttons, owned by the
// parent window. Counts the boxes that are open, so the main frame can
// ignore command keys and hand-overs meanwhile.
class QtPrompt final : public UserPrompt {
public:
    explicit QtPrompt(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    PromptAnswer Ask(const std::string& title, const std::string& text, PromptIcon icon,
                     PromptButtons buttons) override;
    bool Open() const { return open_ > 0; }

private:
    QWidget* parent_;
    int open_ = 0;
};

// Lets worker-thread notifications (player positions, levels, wave columns)
// run on the Qt event loop: installs the wakeup that posts a pump to the
// application object. Call once after the QApplication exists.
void InstallQtNotificationPump();

}  // namespace sonitor
