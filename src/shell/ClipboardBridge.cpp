#include "shell/ClipboardBridge.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>
#include <QUrl>
#include <string>

#include "document/AudioClip.h"
#include "document/ProgressTask.h"
#include "edit/EditorSession.h"
#include "foundation/FileUtil.h"

namespace sonitor {

namespace {

const QString kWav = QStringLiteral("audio/wav");
const QString kXWav = QStringLiteral("audio/x-wav");

// The promise put on the clipboard by Copy: the WAV is written the first
// time someone asks for it and kept for later requests.
class WavPromise final : public QMimeData {
public:
    WavPromise(ClipboardBridge& bridge, const AudioClip& clip) : bridge_(&bridge), clip_(clip) {}

    QStringList formats() const override { return {kWav, kXWav}; }
    bool hasFormat(const QString& mimeType) const override { return mimeType == kWav || mimeType == kXWav; }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType) const override {
        if (!hasFormat(mimeType)) return {};
        if (rendered_.isEmpty()) {
            // The editor may have closed meanwhile: a promise pending at exit
            // yields nothing.
            if (bridge_.isNull()) return {};
            rendered_ = bridge_->RenderClip(clip_);
            if (rendered_.isEmpty()) return {};
        }
        return rendered_;
    }

private:
    QPointer<ClipboardBridge> bridge_;
    AudioClip clip_;
    mutable QByteArray rendered_;
};

bool IsWavFile(const QString& path) {
    return path.endsWith(QStringLiteral(".wav"), Qt::CaseInsensitive);
}

}  // namespace

ClipboardBridge::ClipboardBridge(const AudioClip& clipboardClip, TaskHost& tasks, std::function<bool()> busy,
                                 QObject* parent)
    : QObject(parent), clip_(clipboardClip), tasks_(tasks), busy_(std::move(busy)) {}

ClipboardBridge::~ClipboardBridge() {
    // A promise still pending when the editor goes yields nothing; dropping
    // it now also lets go of its clip while the working folder still exists.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard != nullptr && dynamic_cast<const WavPromise*>(clipboard->mimeData()) != nullptr)
        clipboard->clear();
}

void ClipboardBridge::Announce() {
    // The clipboard owns the promise from here on.
    QGuiApplication::clipboard()->setMimeData(new WavPromise(*this, clip_));
}

QByteArray ClipboardBridge::Render() {
    return RenderClip(clip_);
}

QByteArray ClipboardBridge::RenderClip(const AudioClip& clip) {
    if (busy_ && busy_()) return {};
    std::string bytes;
    if (!RenderClipAsWav(clip, tasks_, bytes)) return {};
    ++renders_;
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

int32_t ClipboardBridge::Take(AudioClip& clip) {
    std::string bytes;
    if (const QMimeData* data = QGuiApplication::clipboard()->mimeData()) {
        for (const QString& type : {kWav, kXWav}) {
            if (!data->hasFormat(type)) continue;
            const QByteArray wav = data->data(type);
            if (!wav.isEmpty()) {
                bytes.assign(wav.constData(), static_cast<size_t>(wav.size()));
                break;
            }
        }
        // A file manager copies a file as its address.
        if (bytes.empty() && data->hasUrls()) {
            for (const QUrl& url : data->urls()) {
                if (!url.isLocalFile() || !IsWavFile(url.toLocalFile())) continue;
                if (auto contents = ReadWholeFile(QFile::encodeName(url.toLocalFile()).toStdString()))
                    bytes = std::move(*contents);
                break;
            }
        }
    }
    return TakeWavIntoClip(bytes, tasks_, clip);
}

}  // namespace sonitor
