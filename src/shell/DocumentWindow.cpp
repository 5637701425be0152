#include "shell/DocumentWindow.h"

#include <QVBoxLayout>
#include <utility>

#include "shell/WaveView.h"

namespace sonitor {

DocumentWindow::DocumentWindow(Ref<SoundDocument> document, QWidget* parent)
    : QWidget(parent), document_(std::move(document)) {
    view_ = new WaveView(*document_, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    UpdateTitle();
    view_->Relayout();
}

DocumentWindow::~DocumentWindow() {
    // The pane refers to the document; it must go while our reference still
    // keeps the document alive, not later with the other children.
    delete view_;
    view_ = nullptr;
}

void DocumentWindow::UpdateTitle() {
    const std::string& name = document_->fileName;
    const size_t slash = name.find_last_of("/\\");
    setWindowTitle(QString::fromStdString(slash == std::string::npos ? name : name.substr(slash + 1)));
}

}  // namespace sonitor
