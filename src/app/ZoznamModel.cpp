#include "ZoznamModel.h"

#include "text/RecordText.h"

ZoznamModel::ZoznamModel(const vrindel::Catalogue& catalogue, QObject* parent)
    : QAbstractListModel(parent), catalogue_(catalogue) {}

int ZoznamModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : catalogue_.displayCount();
}

QVariant ZoznamModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= catalogue_.displayCount())
        return {};
    // A screen reader gives each name its location as the row's description.
    if (role == Qt::AccessibleDescriptionRole) {
        const vrindel::RecordText location = catalogue_.locationOfDisplay(index.row());
        return QString::fromStdU16String(vrindel::fromWindows1250(location.view()));
    }
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return {};
    const vrindel::RecordText name = catalogue_.displayAt(index.row());
    return QString::fromStdU16String(vrindel::fromWindows1250(name.view()));
}

Qt::ItemFlags ZoznamModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

void ZoznamModel::beginReset() {
    beginResetModel();
}

void ZoznamModel::endReset() {
    endResetModel();
}

void ZoznamModel::beginInsert(int row) {
    beginInsertRows(QModelIndex(), row, row);
}

void ZoznamModel::endInsert() {
    endInsertRows();
}

void ZoznamModel::beginRemove(int row) {
    beginRemoveRows(QModelIndex(), row, row);
}

void ZoznamModel::endRemove() {
    endRemoveRows();
}

void ZoznamModel::rowsChanged(int first, int last) {
    if (first <= last)
        emit dataChanged(index(first), index(last), {Qt::DisplayRole});
}
