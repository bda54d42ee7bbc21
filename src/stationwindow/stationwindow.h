// The station window: a header with the recipe, the image and the totals, and one tile per slot.
#pragma once

#include "station/station.h"

#include <QMainWindow>
#include <QTimer>

#include <memory>
#include <vector>

class QGridLayout;
class QLabel;
class QLineEdit;

namespace morven::stationwindow {

class Tile;

// Shows a Station and nothing more: the operator reads the tiles, types a name and presses
// "Start" where the fixture wants it; an engineer opens, edits and saves recipes from the
// "Recipe" menu. Refused recipes and records that cannot be opened are shown in a dialog.
class StationWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit StationWindow(const station::StationOptions &options, QWidget *parent = nullptr);
    ~StationWindow() override;

    // Opens the recipe and starts the station; a refusal is shown in a dialog (and returned),
    // leaving whatever ran before stopped.
    std::optional<QString> openRecipe(const QString &path);
    const station::Station *station() const { return station_.get(); }

signals:
    // A dialog was shown with this text (for the tests, which run without an operator).
    void messageShown(const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    void showMessage(const QString &text);
    void refreshHeader();
    void refreshTiles();
    void editRecipe();

    station::StationOptions options_;
    std::unique_ptr<station::Station> station_;
    QString recipePath_;
    QWidget *tilesArea_ = nullptr;
    QGridLayout *grid_ = nullptr;
    QLabel *recipe_ = nullptr;
    QLabel *image_ = nullptr;
    QLineEdit *operator_ = nullptr;
    QLabel *totals_ = nullptr;
    std::vector<Tile *> tiles_;
    std::vector<bool> dirty_;
    // Tiles are redrawn at most ten times a second, however fast the lines go out.
    QTimer redraw_;
};

} // namespace morven::stationwindow
