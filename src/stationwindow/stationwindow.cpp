// The station window.
#include "stationwindow/stationwindow.h"

#include "stationwindow/tile.h"

#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cmath>

namespace morven::stationwindow {

StationWindow::StationWindow(const station::StationOptions &options, QWidget *parent)
    : QMainWindow(parent)
    , options_(options)
{
    setWindowTitle(tr("Morven production station"));
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    auto *header = new QGridLayout;
    recipe_ = new QLabel(tr("No recipe: open one from the Recipe menu"), central);
    recipe_->setObjectName(QStringLiteral("recipe"));
    QFont big = recipe_->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    recipe_->setFont(big);
    image_ = new QLabel(central);
    image_->setObjectName(QStringLiteral("image"));
    operator_ = new QLineEdit(options_.operatorName, central);
    operator_->setObjectName(QStringLiteral("operator"));
    operator_->setAccessibleName(tr("Operator"));
    operator_->setPlaceholderText(tr("your name"));
    totals_ = new QLabel(central);
    totals_->setObjectName(QStringLiteral("totals"));
    totals_->setFont(big);
    auto *startAll = new QPushButton(tr("Start all"), central);
    startAll->setObjectName(QStringLiteral("startAll"));
    header->addWidget(recipe_, 0, 0, 1, 2);
    header->addWidget(totals_, 0, 2, 1, 2, Qt::AlignRight);
    header->addWidget(image_, 1, 0, 1, 2);
    header->addWidget(new QLabel(tr("Operator:"), central), 1, 2, Qt::AlignRight);
    header->addWidget(operator_, 1, 3);
    header->addWidget(startAll, 2, 3);
    layout->addLayout(header);
    auto *scroll = new QScrollArea(central);
    scroll->setWidgetResizable(true);
    tilesArea_ = new QWidget(scroll);
    grid_ = new QGridLayout(tilesArea_);
    scroll->setWidget(tilesArea_);
    layout->addWidget(scroll, 1);
    setCentralWidget(central);
    buildMenus();
    connect(operator_, &QLineEdit::textChanged, this, [this](const QString &name) {
        options_.operatorName = name;
        if (station_)
            station_->setOperatorName(name);
    });
    connect(startAll, &QPushButton::clicked, this, [this] {
        if (station_)
            station_->startAll();
    });
    redraw_.setInterval(100);
    connect(&redraw_, &QTimer::timeout, this, &StationWindow::refreshTiles);
    redraw_.start();
    refreshHeader();
    resize(1100, 760);
}

StationWindow::~StationWindow()
{
    if (station_)
        station_->stop();
}

void StationWindow::buildMenus()
{
    QMenu *menu = menuBar()->addMenu(tr("&Recipe"));
    menu->addAction(tr("&Open..."), this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Open recipe"), QString(), tr("Recipe (*.json)"));
        if (!path.isEmpty())
            openRecipe(path);
    });
    menu->addAction(tr("&Edit..."), this, &StationWindow::editRecipe);
    menu->addSeparator();
    menu->addAction(tr("&Quit"), this, &QWidget::close);
}

void StationWindow::showMessage(const QString &text)
{
    emit messageShown(text);
    if (qEnvironmentVariableIsSet("MORVEN_STATION_NO_DIALOGS"))
        return;
    QMessageBox::warning(this, windowTitle(), text);
}

std::optional<QString> StationWindow::openRecipe(const QString &path)
{
    if (station_)
        station_->stop();
    for (Tile *tile : tiles_)
        delete tile;
    tiles_.clear();
    station_.reset();
    auto next = std::make_unique<station::Station>();
    if (const auto why = next->open(path, options_)) {
        refreshHeader();
        showMessage(*why);
        return why;
    }
    station_ = std::move(next);
    recipePath_ = path;
    const std::size_t n = station_->slotCount();
    const int columns = std::max(1, int(std::ceil(std::sqrt(double(n)) * 1.3)));
    dirty_.assign(n, true);
    for (std::size_t i = 0; i < n; ++i) {
        auto *tile = new Tile(station_->slot(i), tilesArea_);
        grid_->addWidget(tile, int(i) / columns, int(i) % columns);
        connect(tile, &Tile::startClicked, this, [this, i] { station_->startSlot(i); });
        tiles_.push_back(tile);
    }
    connect(station_.get(), &station::Station::slotChanged, this, [this](std::size_t i) { dirty_[i] = true; });
    connect(station_.get(), &station::Station::event, this, [this](std::size_t i, int, const QString &name) {
        dirty_[i] = true;
        if (name == QLatin1String("record-failed"))
            showMessage(tr("Slot %1 stopped: its unit could not be recorded (%2).")
                            .arg(station_->slot(i).label(), station_->recordTrouble()));
        refreshHeader();
    });
    connect(station_.get(), &station::Station::recordsChanged, this, &StationWindow::refreshHeader);
    refreshHeader();
    station_->run();
    return std::nullopt;
}

void StationWindow::refreshHeader()
{
    if (!station_) {
        image_->clear();
        totals_->clear();
        return;
    }
    const station::Recipe &r = station_->recipe();
    recipe_->setText(r.name);
    image_->setText(tr("%1  sha256 %2").arg(station_->image().fileName, station_->image().sha256.left(8)));
    const int ended = station_->unitsEnded();
    const int passed = station_->unitsPassed();
    QString totals = tr("units %1   passed %2   failed %3").arg(ended).arg(passed).arg(ended - passed);
    if (ended > 0)
        totals += tr("   yield %1 %").arg(100.0 * passed / ended, 0, 'f', 1);
    // Whatever keeps units from being recorded is said in the header, in the station's words.
    if (const QString records = station_->recordsState(); !records.isEmpty())
        totals += tr("   RECORDS: %1").arg(records);
    totals_->setText(totals);
}

void StationWindow::refreshTiles()
{
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
        // A tile at work shows its running time, so it is redrawn at every tick.
        if (dirty_[i] || station_->slot(i).phase() == station::Slot::Phase::Flashing) {
            tiles_[i]->refresh();
            dirty_[i] = false;
        }
    }
}

// An engineer's editor: the recipe as text, saved only when it reads as a recipe.
void StationWindow::editRecipe()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Edit recipe"), recipePath_, tr("Recipe (*.json)"));
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showMessage(tr("%1: %2").arg(path, file.errorString()));
        return;
    }
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Edit recipe %1").arg(QFileInfo(path).fileName()));
    auto *text = new QPlainTextEdit(QString::fromUtf8(file.readAll()), &dialog);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, &dialog);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(text);
    layout->addWidget(buttons);
    dialog.resize(700, 600);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        station::Recipe checked;
        const QByteArray json = text->toPlainText().toUtf8();
        if (const auto why = station::parseRecipe(json, QFileInfo(path).absolutePath(), checked)) {
            showMessage(*why);
            return;
        }
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(json) != json.size() || !out.commit()) {
            showMessage(tr("%1: %2").arg(path, out.errorString()));
            return;
        }
        dialog.accept();
    });
    dialog.exec();
}

void StationWindow::closeEvent(QCloseEvent *event)
{
    // Units in progress are recorded as interrupted before the window goes.
    if (station_)
        station_->stop();
    event->accept();
}

} // namespace morven::stationwindow

#include "moc_stationwindow.cpp"
