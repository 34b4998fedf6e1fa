// The list view bound to the catalogue.
#include "FormSync.h"

#include <QScrollBar>

#include <optional>
#include <string>

#include "records/Catalogue.h"
#include "RecordTextInput.h"

ZoznamSync::ZoznamSync(ListWindow& window, vrindel::Catalogue& catalogue, vrindel::EditHistory& history,
                       bool& syncing)
    : window_(window), catalogue_(catalogue), history_(history), syncing_(syncing) {}

void ZoznamSync::bind(ZoznamView* view, ZoznamModel* model) {
    view_ = view;
    model_ = model;
    catalogue_.setVisibleRows((view_->height() - 2 * view_->frameWidth()) / ZoznamView::ItemHeight);
    connect(view_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!syncing_)
            catalogue_.setTopIndex(value);
    });
}

void ZoznamSync::showSelection() {
    const Syncing syncing(syncing_);
    view_->layoutNow();
    const int row = catalogue_.selection();
    QItemSelectionModel* selection = view_->selectionModel();
    if (row >= 0 && row < model_->rowCount()) {
        selection->setCurrentIndex(model_->index(row), QItemSelectionModel::ClearAndSelect);
    } else {
        selection->clearSelection();
        selection->clearCurrentIndex();
    }
    QScrollBar* bar = view_->verticalScrollBar();
    bar->setValue(catalogue_.topIndex());
    // The view cannot scroll past its last page; the catalogue learns where
    // it stopped.
    if (view_->isVisible())
        catalogue_.setTopIndex(bar->value());
}

void ZoznamSync::rememberTopIndex() {
    if (view_->isVisible())
        catalogue_.setTopIndex(view_->verticalScrollBar()->value());
}

void ZoznamSync::selectByUser(int row) {
    if (row < 0 || row >= catalogue_.displayCount() || row == catalogue_.selection())
        return;
    catalogue_.setSelection(row);
    showSelection();
    window_.ShowInfo();
}

// --- Changes of the display list --------------------------------------------------------

void ZoznamSync::add(const std::string& name, const std::string& location) {
    const Syncing syncing(syncing_);
    model_->beginInsert(catalogue_.insertPosition(name));
    history_.add(name, location);
    model_->endInsert();
}

void ZoznamSync::deleteAt(int i) {
    const Syncing syncing(syncing_);
    model_->beginRemove(i);
    history_.deleteAtDisplay(i);
    model_->endRemove();
}

void ZoznamSync::renameAt(int i, const std::string& name) {
    history_.renameAtDisplay(i, name);
    model_->rowsChanged(i, i);
}

void ZoznamSync::resortAfterRename() {
    catalogue_.resortAfterRename();
    model_->rowsChanged(0, catalogue_.displayCount() - 1);
}

void ZoznamSync::setSorted(bool on) {
    const ModelReset reset(*model_, syncing_);
    if (catalogue_.displayCount() > 0) {
        if (on) {
            // In storage order the display index is the storage index.
            catalogue_.setBookmark(catalogue_.selection());
            catalogue_.setSorted(true);
            catalogue_.setSelection(catalogue_.findInDisplay(catalogue_.storageName(catalogue_.bookmark()).view()));
        } else {
            catalogue_.setBookmark(catalogue_.findInStorage(catalogue_.displayAt(catalogue_.selection()).view()));
            catalogue_.setSorted(false);
            catalogue_.showStorageOrder();
            catalogue_.setSelection(catalogue_.findInDisplay(catalogue_.storageName(catalogue_.bookmark()).view()));
        }
    }
    catalogue_.setSorted(on);
}

// --- What the view reports ----------------------------------------------------------

QString ZoznamSync::rowText(int row) const {
    return fromRecord(catalogue_.displayAt(row));
}

void ZoznamSync::listMouseDown(Qt::MouseButton button) {
    emit mousePressed(button);
}

void ZoznamSync::listMouseMove() {
    emit mouseMoved();
}

void ZoznamSync::listMouseUp() {
    emit mouseReleased();
}

void ZoznamSync::listRowChosen(int row) {
    if (syncing_)
        return;
    window_.run([&] {
        catalogue_.setSelection(row);
        rememberTopIndex();
        {
            const Syncing syncing(syncing_);
            view_->selectionModel()->select(model_->index(row), QItemSelectionModel::ClearAndSelect);
        }
        window_.ShowInfo();
    });
}

void ZoznamSync::listTypedAhead(const QString& typed) {
    window_.run([&] {
        // Backspace that empties the search text goes back to the first entry.
        if (typed.isEmpty()) {
            selectByUser(0);
            return;
        }
        const std::optional<std::string> prefix = vrindel::toWindows1250(typed.toStdU16String());
        if (prefix)
            selectByUser(catalogue_.findPrefixInDisplay(*prefix));
    });
}

void ZoznamSync::listRowsShown(int rows) {
    catalogue_.setVisibleRows(rows);
}

void ZoznamSync::listMenuAt(const QPoint& globalPos) {
    emit menuRequested(globalPos);
}
