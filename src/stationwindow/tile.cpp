// One tile of the station window.
#include "stationwindow/tile.h"

#include "station/slot.h"

#include <QDateTime>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace morven::stationwindow {

using station::Slot;

namespace {

// The background by what the operator must do: nothing, wait, take the board (passed or failed).
QRgb colourFor(const Slot &slot)
{
    switch (slot.phase()) {
    case Slot::Phase::Stopped:
    case Slot::Phase::Waiting:
        return 0xd9d9d9;
    case Slot::Phase::Flashing:
        return 0x1f5fbf;
    case Slot::Phase::Held: // the station needs someone: the records cannot be written
        return 0xd98c1a;
    case Slot::Phase::Removing:
        break;
    }
    return slot.unit().passed ? 0x1e8c2f : 0xc62020;
}

} // namespace

Tile::Tile(const Slot &slot, QWidget *parent)
    : QFrame(parent)
    , slot_(slot)
    , label_(new QLabel(slot.label(), this))
    , port_(new QLabel(slot.port(), this))
    , state_(new QLabel(this))
    , progress_(new QProgressBar(this))
    , time_(new QLabel(this))
    , counts_(new QLabel(this))
    , start_(new QPushButton(tr("Start"), this))
{
    setObjectName(QStringLiteral("tile-") + slot.label());
    setAutoFillBackground(true);
    setFrameShape(QFrame::Box);
    setLineWidth(2);
    setMinimumSize(220, 170);
    QFont big = label_->font();
    big.setPointSizeF(big.pointSizeF() * 2.4);
    big.setBold(true);
    label_->setFont(big);
    QFont large = state_->font();
    large.setPointSizeF(large.pointSizeF() * 1.4);
    large.setBold(true);
    state_->setFont(large);
    state_->setWordWrap(true);
    port_->setWordWrap(true);
    progress_->setTextVisible(true);
    auto *layout = new QVBoxLayout(this);
    for (QWidget *w : {static_cast<QWidget *>(label_), static_cast<QWidget *>(port_), static_cast<QWidget *>(state_),
             static_cast<QWidget *>(progress_), static_cast<QWidget *>(time_), static_cast<QWidget *>(counts_),
             static_cast<QWidget *>(start_)})
        layout->addWidget(w);
    layout->addStretch();
    start_->setAccessibleName(tr("Start %1").arg(slot.label()));
    connect(start_, &QPushButton::clicked, this, &Tile::startClicked);
    setAccessibleName(slot.label());
    refresh();
}

void Tile::refresh()
{
    const QString text = slot_.stateText();
    if (state_->text() != text) {
        state_->setText(text);
        setAccessibleDescription(text);
    }
    const bool flashing = slot_.phase() == Slot::Phase::Flashing;
    progress_->setVisible(flashing);
    if (flashing && slot_.job()) {
        const auto &session = slot_.job()->session();
        progress_->setRange(0, int(std::max<std::size_t>(1, session.totalLines())));
        progress_->setValue(int(session.linesDone()));
    }
    const station::UnitReport &u = slot_.unit();
    if (flashing)
        time_->setText(tr("%1 s").arg(double(u.startedAt.msecsTo(QDateTime::currentDateTimeUtc())) / 1000.0, 0, 'f', 1));
    else if (u.endedAt.isValid())
        time_->setText(tr("last unit %1 s").arg(u.seconds, 0, 'f', 1));
    else
        time_->clear();
    counts_->setText(tr("passed %1   failed %2").arg(slot_.passed()).arg(slot_.failed()));
    // A palette, not a style sheet: 32 tiles change colour at once without holding up the window.
    const QRgb colour = colourFor(slot_);
    if (colour != colour_) {
        colour_ = colour;
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(colour));
        p.setColor(QPalette::WindowText, colour == 0xd9d9d9 ? Qt::black : Qt::white);
        setPalette(p);
    }
}

} // namespace morven::stationwindow

#include "moc_tile.cpp"
