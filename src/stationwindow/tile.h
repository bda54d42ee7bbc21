// One tile of the station window: a fixture position, what its board is doing, its counts.
#pragma once

#include <QFrame>
#include <QRgb>

class QLabel;
class QProgressBar;
class QPushButton;

namespace morven::station {
class Slot;
}

namespace morven::stationwindow {

// Read from two metres: the label large, the state in words and in colour (grey waiting, blue
// working, green passed, red failed), a progress bar while lines go out, the unit's time and the
// slot's own pass and fail counts. Its accessible name is the slot label and its accessible
// description the state text, so screen readers (and our checks) read what the operator sees.
class Tile : public QFrame
{
    Q_OBJECT
public:
    explicit Tile(const station::Slot &slot, QWidget *parent = nullptr);

    // Reads the slot again; cheap enough for every change of every slot.
    void refresh();

signals:
    void startClicked();

private:
    const station::Slot &slot_;
    QLabel *label_;
    QLabel *port_;
    QLabel *state_;
    QProgressBar *progress_;
    QLabel *time_;
    QLabel *counts_;
    QPushButton *start_;
    QRgb colour_ = 0xFFFFFFFF; // none yet
};

} // namespace morven::stationwindow
