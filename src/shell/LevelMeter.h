#pragma once

#include <QWidget>
#include <vector>

namespace sonitor {

// The player's level meter: one horizontal bar per channel for the
// decibel levels the player reports (mean power, so a full-scale square
// wave reads +15 dB). objectName "LevelMeter".
class LevelMeter final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFloorDb = -45;
    static constexpr int kCeilingDb = 15;

    explicit LevelMeter(QWidget* parent = nullptr);
    void SetLevels(std::vector<int> levels);
    void Clear();
    const std::vector<int>& Levels() const { return levels_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<int> levels_;
};

}  // namespace sonitor
