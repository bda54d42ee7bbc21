// The list boxes' items as a Qt model over a line store.
#include "records/linelistmodel.h"

#include <climits>

namespace morven {

int LineListModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return static_cast<int>(std::min<std::size_t>(lines_.size(), INT_MAX));
}

QVariant LineListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || std::size_t(index.row()) >= lines_.size())
        return QVariant();
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return QVariant();
    const std::string_view line = lines_.at(std::size_t(index.row()));
    return QString::fromLatin1(line.data(), qsizetype(line.size()));
}

void LineListModel::clear()
{
    beginResetModel();
    lines_.clear();
    endResetModel();
}

void LineListModel::setLines(LineStore &&lines)
{
    beginResetModel();
    lines_ = std::move(lines);
    endResetModel();
}

void LineListModel::append(std::string_view line)
{
    const int row = rowCount();
    beginInsertRows(QModelIndex(), row, row);
    lines_.append(line);
    endInsertRows();
}

bool LineListModel::appendFileBytes(std::string &&bytes)
{
    if (!lines_.canAppend(bytes.size()))
        return false;
    if (lines_.empty()) {
        // The common case: the buffer becomes the list without a second copy.
        beginResetModel();
        lines_.appendFileBytes(std::move(bytes));
        endResetModel();
        return true;
    }
    LineStore added;
    added.appendFileBytes(std::move(bytes));
    if (added.empty())
        return true;
    const int first = rowCount();
    beginInsertRows(
        QModelIndex(), first, first + static_cast<int>(std::min<std::size_t>(added.size(), INT_MAX - first)) - 1);
    lines_.reserve(added.size(), added.byteSize());
    for (std::size_t i = 0; i < added.size(); ++i)
        lines_.append(added.at(i));
    endInsertRows();
    return true;
}

} // namespace morven

#include "moc_linelistmodel.cpp"
