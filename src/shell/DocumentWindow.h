#pragma once

#include <QWidget>

#include "document/SoundDocument.h"

namespace sonitor {

class WaveView;

// The widget of one MDI child: holds the document (one reference) and its
// wave pane.
class DocumentWindow final : public QWidget {
    Q_OBJECT
public:
    explicit DocumentWindow(Ref<SoundDocument> document, QWidget* parent = nullptr);
    ~DocumentWindow() override;

    SoundDocument& Document() { return *document_; }
    const Ref<SoundDocument>& DocumentRef() const { return document_; }
    WaveView& View() { return *view_; }
    // The window title: the file name without folder.
    void UpdateTitle();

private:
    Ref<SoundDocument> document_;
    WaveView* view_ = nullptr;
};

}  // namespace sonitor
