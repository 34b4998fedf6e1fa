#pragma once
// The list's two small dialogs: finding a record by any part of its name or
// location ("Hľadať"), and giving the selected record another location
// ("Zmeniť umiestnenie"). Both are modal over the window and leave the
// catalogue to the window: they only say what the user chose.

#include <QAbstractTableModel>
#include <QDialog>

#include <vector>

#include "records/Catalogue.h"
#include "search/SearchIndex.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// The records found, one row each, read from the catalogue when shown: a
// million matches cost the index's list of them, not a million rows of text.
class FoundModel : public QAbstractTableModel {
    Q_OBJECT
public:
    FoundModel(const vrindel::Catalogue& catalogue, const vrindel::SearchIndex& index, QObject* parent = nullptr);
    // How many the index's last search found; they are read from the index
    // and must stay as they are until the next call.
    void setFound(std::size_t count);
    int storageIndex(int row) const { return index_.storageIndexAt(index_.foundAt(std::size_t(row))); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const vrindel::Catalogue& catalogue_;
    const vrindel::SearchIndex& index_;
    std::size_t found_ = 0;
};

class FindDialog : public QDialog {
    Q_OBJECT
public:
    // The records in the order the list shows them (name order when sorted).
    FindDialog(const vrindel::Catalogue& catalogue, QWidget* parent);

    QLineEdit* text() const { return text_; }
    QTableView* results() const { return results_; }
    QLabel* count() const { return count_; }
    // The storage index of the record chosen, -1 until one is.
    int chosen() const { return chosen_; }

    // Looks for the edit's text now; each change of the text does.
    void search();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void choose(const QModelIndex& index);

    const vrindel::Catalogue& catalogue_;
    vrindel::SearchIndex index_;
    FoundModel* model_ = nullptr;
    QLineEdit* text_ = nullptr;
    QTableView* results_ = nullptr;
    QLabel* count_ = nullptr;
    int chosen_ = -1;
};

class RelocateDialog : public QDialog {
    Q_OBJECT
public:
    // For the record with this name, now kept at this location.
    RelocateDialog(const QString& name, const QString& location, QWidget* parent);
    QLineEdit* location() const { return location_; }
    QPushButton* okButton() const { return ok_; }

private:
    QLineEdit* location_ = nullptr;
    QPushButton* ok_ = nullptr;
};
