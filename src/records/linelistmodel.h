// The list boxes' items as a Qt model over a line store.
#pragma once

#include "records/linestore.h"

#include <QAbstractListModel>

namespace morven {

// A list box's items: 8-bit lines shown as Latin-1, so every byte survives a load and a
// save, and a million lines cost little more than their bytes.
class LineListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    const LineStore &lines() const { return lines_; }
    std::size_t count() const { return lines_.size(); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void clear();
    void setLines(LineStore &&lines);
    void append(std::string_view line);
    // Adds the lines of a text file's bytes at the end (line ends as LineStore reads them).
    // False, with nothing added, when the list cannot hold that much text.
    bool appendFileBytes(std::string &&bytes);

private:
    LineStore lines_;
};

} // namespace morven
