#pragma once
// The display list `Zoznam` as a Qt model. It reads the catalogue's display
// list directly: no copy of the names, no string or widget per record. The
// window tells it of every change, one row at a time where it can, so that
// the view stays instant with a million names.

#include <QAbstractListModel>

#include "records/Catalogue.h"

class ZoznamModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit ZoznamModel(const vrindel::Catalogue& catalogue, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Each pair brackets one change of the catalogue's display list.
    void beginReset();
    void endReset();
    void beginInsert(int row);
    void endInsert();
    void beginRemove(int row);
    void endRemove();
    // Rows whose names changed in place.
    void rowsChanged(int first, int last);

private:
    const vrindel::Catalogue& catalogue_;
};
