#include "shell/QtPrompt.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QWidget>

#include "foundation/Notifier.h"

namespace sonitor {

namespace {

QMessageBox::Icon BoxIcon(PromptIcon icon) {
    switch (icon) {
        case PromptIcon::Information:
            return QMessageBox::Information;
        case PromptIcon::Warning:
            return QMessageBox::Warning;
        case PromptIcon::Error:
            return QMessageBox::Critical;
        case PromptIcon::Question:
            return QMessageBox::Question;
        case PromptIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons BoxButtons(PromptButtons buttons) {
    switch (buttons) {
        case PromptButtons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case PromptButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case PromptButtons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case PromptButtons::RetryCancel:
            return QMessageBox::Retry | QMessageBox::Cancel;
        case PromptButtons::Ok:
            break;
    }
    return QMessageBox::Ok;
}

// The first button is the default, as the questions are written for.
QMessageBox::StandardButton DefaultButton(PromptButtons buttons) {
    switch (buttons) {
        case PromptButtons::YesNo:
        case PromptButtons::YesNoCancel:
            return QMessageBox::Yes;
        case PromptButtons::RetryCancel:
            return QMessageBox::Retry;
        case PromptButtons::Ok:
        case PromptButtons::OkCancel:
            break;
    }
    return QMessageBox::Ok;
}

// What closing the box without a button means.
PromptAnswer DismissAnswer(PromptButtons buttons) {
    switch (buttons) {
        case PromptButtons::Ok:
            return PromptAnswer::Ok;
        case PromptButtons::YesNo:
            return PromptAnswer::No;
        case PromptButtons::OkCancel:
        case PromptButtons::YesNoCancel:
        case PromptButtons::RetryCancel:
            break;
    }
    return PromptAnswer::Cancel;
}

}  // namespace

PromptAnswer QtPrompt::Ask(const std::string& title, const std::string& text, PromptIcon icon,
                           PromptButtons buttons) {
    // A task disables its owner; a box owned by a disabled window would be
    // disabled with it and could never be answered.
    QWidget* parent = parent_ != nullptr && parent_->isEnabled() ? parent_ : nullptr;
    QMessageBox box(BoxIcon(icon), QString::fromStdString(title), QString::fromStdString(text),
                    BoxButtons(buttons), parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(DefaultButton(buttons));
    ++open_;
    const int clicked = box.exec();
    --open_;
    switch (clicked) {
        case QMessageBox::Ok:
            return PromptAnswer::Ok;
        case QMessageBox::Cancel:
            return PromptAnswer::Cancel;
        case QMessageBox::Yes:
            return PromptAnswer::Yes;
        case QMessageBox::No:
            return PromptAnswer::No;
        case QMessageBox::Retry:
            return PromptAnswer::Retry;
        default:
            return DismissAnswer(buttons);
    }
}

void InstallQtNotificationPump() {
    SetNotificationWakeup([] {
        // Any thread: a queued call is the one thread-safe way into the loop.
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] { PumpNotifications(); }, Qt::QueuedConnection);
    });
}

}  // namespace sonitor
