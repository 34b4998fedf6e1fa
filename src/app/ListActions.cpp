// The list's actions beyond its first handlers: finding a record, taking
// edits back and doing them again, giving a record another location, and
// the menu of these.
#include "ListActions.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>

#include <string>

#include "FormSync.h"
#include "ListDialogs.h"
#include "RecordTextInput.h"

ZoznamActions::ZoznamActions(ListWindow& window, vrindel::Catalogue& catalogue, vrindel::EditHistory& history,
                             ZoznamSync& list, const QCheckBox& sorted, QWidget* parent)
    : window_(window), catalogue_(catalogue), history_(history), list_(list), sorted_(sorted), parent_(parent) {}

// --- Hľadať -------------------------------------------------------------------------------

void ZoznamActions::ZoznamFind() {
    auto* dialog = new FindDialog(catalogue_, parent_);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const int j = dialog->chosen();
        window_.run([&] { selectStored(j); });
    });
    dialog->open();
}

void ZoznamActions::selectStored(int j) {
    if (j < 0 || j >= catalogue_.storageCount())
        return;
    const int i = catalogue_.findInDisplay(catalogue_.storageName(j).view());
    if (i < 0)
        return;
    catalogue_.setSelection(i);
    list_.showSelection();
    window_.ShowInfo();
    list_.view()->setFocus(Qt::OtherFocusReason);
}

// --- Undo and redo --------------------------------------------------------------------------

void ZoznamActions::ZoznamUndo() { replayHistory(false); }

void ZoznamActions::ZoznamRedo() { replayHistory(true); }

void ZoznamActions::replayHistory(bool redo) {
    if (redo ? !history_.canRedo() : !history_.canUndo()) {
        QApplication::beep();
        return;
    }
    vrindel::EditHistory::Step step;
    {
        const ModelReset reset = list_.reset();
        step = redo ? history_.redo() : history_.undo();
    }
    showStep(step);
}

void ZoznamActions::showStep(const vrindel::EditHistory::Step& step) {
    // A record that left the list: the entry that took its place, as after
    // a Delete; any other: the record itself, as after its action.
    int i = step.display;
    if (step.removed && i == catalogue_.displayCount())
        i -= 1;
    catalogue_.setSelection(i);
    if (step.kind == vrindel::EditHistory::Kind::Rename && sorted_.isChecked() && catalogue_.selection() >= 0) {
        const ModelReset reset = list_.reset();
        catalogue_.resortAfterRename();
    }
    list_.showSelection();
    window_.ShowInfo();   // the position in the status bar too
    window_.setStatusCount();
}

// --- Zmeniť umiestnenie -----------------------------------------------------------------------

void ZoznamActions::ZoznamRelocate() {
    const int i = catalogue_.selection();
    if (catalogue_.displayCount() == 0 || i < 0) {
        QApplication::beep();
        return;
    }
    auto* dialog =
        new RelocateDialog(fromRecord(catalogue_.displayAt(i)), fromRecord(catalogue_.locationOfDisplay(i)), parent_);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const QString location = dialog->location()->text();
        window_.run([&] { relocateSelected(location); });
    });
    dialog->open();
}

void ZoznamActions::relocateSelected(const QString& text) {
    const int i = catalogue_.selection();
    if (i < 0 || text.isEmpty())
        return;
    const std::string location = toRecord(text);
    // The same location again is no edit to take back.
    if (catalogue_.locationOfDisplay(i).view() == location)
        return;
    history_.relocateAtDisplay(i, location);
    window_.ShowInfo();
}

// --- The context menu --------------------------------------------------------------------------

QPoint ZoznamActions::contextMenuPoint() const {
    const ZoznamView* list = list_.view();
    const QModelIndex current = list->currentIndex();
    QRect row = list->visualRect(current);
    if (!current.isValid() || !list->viewport()->rect().intersects(row))
        row = QRect(0, 0, list->viewport()->width() / 2, 0);
    return list->viewport()->mapToGlobal(QPoint(row.left() + 16, row.bottom()));
}

void ZoznamActions::ZoznamContextMenu(const QPoint& globalPos) {
    auto* menu = new QMenu(parent_);
    menu->setObjectName(QStringLiteral("ZoznamMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The keys are those of the window; the menu only shows them.
    auto item = [&](const QString& text, const QKeySequence& keys, bool enabled, void (ZoznamActions::*handler)()) {
        QAction* action = menu->addAction(text);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setShortcutVisibleInContextMenu(true);
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this,
                [this, handler] { window_.run([this, handler] { (this->*handler)(); }); });
        return action;
    };
    const bool selected = catalogue_.selection() >= 0 && catalogue_.displayCount() > 0;
    item(QStringLiteral("&Hľadať..."), QKeySequence(Qt::CTRL | Qt::Key_F), true, &ZoznamActions::ZoznamFind);
    item(QStringLiteral("Zmeniť &umiestnenie..."), QKeySequence(Qt::Key_F2), selected, &ZoznamActions::ZoznamRelocate);
    menu->addSeparator();
    item(QStringLiteral("&Späť"), QKeySequence(Qt::CTRL | Qt::Key_Z), history_.canUndo(), &ZoznamActions::ZoznamUndo);
    item(QStringLiteral("&Znova"), QKeySequence(Qt::CTRL | Qt::Key_Y), history_.canRedo(), &ZoznamActions::ZoznamRedo);
    menu->popup(globalPos);
}
