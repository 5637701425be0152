#include "shell/Splash.h"

#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace sonitor {

namespace {

constexpr int kSplashMs = 2500;

class SplashWindow final : public QFrame {
public:
    explicit SplashWindow(QWidget* parent)
        : QFrame(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
        setObjectName(QStringLiteral("Splash"));
        setAttribute(Qt::WA_DeleteOnClose);
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);

        auto* name = new QLabel(QStringLiteral("Sonitor"), this);
        QFont big = name->font();
        big.setPointSize(big.pointSize() * 2);
        big.setBold(true);
        name->setFont(big);
        name->setAlignment(Qt::AlignCenter);
        auto* version = new QLabel(QStringLiteral("Version %1").arg(QStringLiteral(SONITOR_VERSION)), this);
        version->setAlignment(Qt::AlignCenter);
        auto* hint = new QLabel(QStringLiteral("Audio editor"), this);
        hint->setAlignment(Qt::AlignCenter);

        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(40, 24, 40, 24);
        layout->addWidget(name);
        layout->addWidget(version);
        layout->addWidget(hint);
        adjustSize();
        if (parent != nullptr) {
            const QRect over = parent->window()->frameGeometry();
            move(over.center() - rect().center());
        }
        QTimer::singleShot(kSplashMs, this, &QWidget::close);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        event->accept();
        close();
    }
};

}  // namespace

QWidget* ShowSplash(QWidget* parent) {
    auto* splash = new SplashWindow(parent);
    splash->show();
    return splash;
}

}  // namespace sonitor
