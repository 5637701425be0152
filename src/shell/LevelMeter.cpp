#include "shell/LevelMeter.h"

#include <QPainter>
#include <algorithm>

namespace sonitor {

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {
    setObjectName("LevelMeter");
    setToolTip("Output Level");
    setMinimumWidth(80);
}

void LevelMeter::SetLevels(std::vector<int> levels) {
    if (levels == levels_) return;
    levels_ = std::move(levels);
    update();
}

void LevelMeter::Clear() {
    SetLevels({});
}

QSize LevelMeter::sizeHint() const {
    return {140, 22};
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = rect().adjusted(1, 1, -1, -1);
    painter.fillRect(area, Qt::black);
    // Two strips even for mono, so that the meter does not jump in height
    // when the channel count changes.
    const int strips = std::max<int>(2, static_cast<int>(levels_.size()));
    const int stripHeight = std::max(1, (area.height() - (strips - 1)) / strips);
    const int span = kCeilingDb - kFloorDb;
    for (size_t c = 0; c < levels_.size(); ++c) {
        const int level = std::clamp(levels_[c], kFloorDb, kCeilingDb);
        const int width = (level - kFloorDb) * area.width() / span;
        const int y = area.top() + static_cast<int>(c) * (stripHeight + 1);
        // Green up to 0 dB of a sine's power, yellow above, red in the last
        // three decibels.
        const int greenEnd = (0 - kFloorDb) * area.width() / span;
        const int redStart = (kCeilingDb - 3 - kFloorDb) * area.width() / span;
        painter.fillRect(area.left(), y, std::min(width, greenEnd), stripHeight, QColor(102, 255, 102));
        if (width > greenEnd)
            painter.fillRect(area.left() + greenEnd, y, std::min(width, redStart) - greenEnd, stripHeight,
                             QColor(255, 255, 17));
        if (width > redStart)
            painter.fillRect(area.left() + redStart, y, width - redStart, stripHeight, QColor(255, 64, 64));
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace sonitor
