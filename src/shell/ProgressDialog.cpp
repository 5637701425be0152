#include "shell/ProgressDialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

namespace sonitor {

ProgressDialog::ProgressDialog(QWidget* owner) : QDialog(nullptr) {
    setObjectName(QStringLiteral("LProgressDialog"));
    setModal(false);

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    for (int i = 0; i < 2; ++i) {
        lines_[i] = new QLabel(this);
        lines_[i]->setProperty("ctrlId", 100 + i);
        lines_[i]->setTextFormat(Qt::PlainText);
        texts->addWidget(lines_[i]);
    }
    bar_ = new QProgressBar(this);
    bar_->setProperty("ctrlId", 102);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    texts->addWidget(bar_);
    spare_ = new QLabel(this);
    spare_->setProperty("ctrlId", 199);
    spare_->setTextFormat(Qt::PlainText);
    texts->addWidget(spare_);

    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setProperty("ctrlId", 2);
    connect(cancel_, &QPushButton::clicked, this, &ProgressDialog::Cancel);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    texts->addLayout(buttons);

    auto* top = new QHBoxLayout(this);
    top->addWidget(icon);
    top->addLayout(texts, 1);
    setMinimumWidth(340);

    // Kept above the owner and placed over it without being its child.
    if (owner != nullptr) {
        QWidget* window = owner->window();
        if (window->windowHandle() != nullptr) {
            winId();
            windowHandle()->setTransientParent(window->windowHandle());
        }
        adjustSize();
        move(window->frameGeometry().center() - rect().center());
    }
}

void ProgressDialog::SetLine(int line, const QString& text) {
    if (line == 0 || line == 1) {
        lines_[line]->setText(text);
    } else {
        spare_->setText(text);
    }
}

void ProgressDialog::SetPercent(int percent) {
    bar_->setValue(std::clamp(percent, 0, 100));
}

int ProgressDialog::Percent() const {
    return bar_->value();
}

QString ProgressDialog::Line(int line) const {
    return line == 0 || line == 1 ? lines_[line]->text() : spare_->text();
}

void ProgressDialog::Cancel() {
    if (cancelled_) return;
    cancelled_ = true;
    hide();
    emit CancelPressed();
}

QtTaskHost::QtTaskHost(QWidget* owner) : owner_(owner) {}

QtTaskHost::~QtTaskHost() {
    if (running_ != nullptr && owner_ != nullptr) owner_->setEnabled(true);
}

bool QtTaskHost::OpenProgress(ProgressTask& task) {
    // The owner is disabled while a task runs, so a second one can only come
    // from an event handled during a pump (a clipboard request, a timer):
    // it must not run on top of the first.
    if (running_ != nullptr) return false;
    retired_.reset();
    dialog_ = std::make_unique<ProgressDialog>(owner_);
    dialog_->setWindowTitle(QString::fromStdString(task.Title()));
    dialog_->SetPercent(0);
    ProgressDialog* dialog = dialog_.get();
    QObject::connect(dialog, &ProgressDialog::CancelPressed, dialog, [this] { OnCancel(); });
    running_ = &task;
    cancelled_ = false;
    if (owner_ != nullptr) owner_->setEnabled(false);
    dialog->show();
    if (shownHook_) shownHook_(*dialog);
    return true;
}

void QtTaskHost::CloseProgress(ProgressTask&) {
    // The dialog goes first: activating the owner while the dialog still
    // exists leaves the activation with the dialog, and the frame's key
    // shortcuts would stop working after every task.
    dialog_.reset();
    retired_.reset();
    running_ = nullptr;
    if (owner_ != nullptr) {
        owner_->setEnabled(true);
        owner_->activateWindow();
        owner_->setFocus();
    }
}

void QtTaskHost::SetProgressText(ProgressTask&, int line, const std::string& text) {
    if (dialog_) dialog_->SetLine(line, QString::fromStdString(text));
}

void QtTaskHost::SetProgressPercent(ProgressTask&, int percent) {
    if (dialog_) dialog_->SetPercent(percent);
}

bool QtTaskHost::Pump(ProgressTask&) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Out of the click now: the cancelled dialog can go.
    if (cancelled_) retired_.reset();
    return cancelled_;
}

void QtTaskHost::ShowTaskError(ProgressTask&, const std::string& text) {
    if (errorSink_) {
        errorSink_(text);
        return;
    }
    // After Cancel there is no dialog, and the owner is still disabled: a
    // box owned by it could not be answered.
    QWidget* parent = dialog_ ? dialog_.get() : (owner_ != nullptr && owner_->isEnabled() ? owner_ : nullptr);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"), QString::fromStdString(text),
                    QMessageBox::Ok, parent);
    box.exec();
}

void QtTaskHost::OnCancel() {
    cancelled_ = true;
    retired_ = std::move(dialog_);
}

}  // namespace sonitor
