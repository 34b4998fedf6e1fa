// TMainForm: the list's actions beyond its first handlers. Finding a record,
// taking edits back and doing them again, and giving a record another
// location change the catalogue only as the window's own handlers do, so
// the close saves them like any edit.
#include "MainUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>

#include <optional>
#include <string>

#include "FormSync.h"
#include "ListDialogs.h"
#include "RecordTextInput.h"
#include "ZoznamView.h"

// --- Hľadať -------------------------------------------------------------------------------

void TMainForm::ZoznamFind() {
    auto* dialog = new FindDialog(catalogue_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const int j = dialog->chosen();
        run([&] { selectStored(j); });
    });
    dialog->open();
}

void TMainForm::selectStored(int j) {
    if (j < 0 || j >= catalogue_.storageCount())
        return;
    const int i = catalogue_.findInDisplay(catalogue_.storageName(j).view());
    if (i < 0)
        return;
    catalogue_.setSelection(i);
    showSelection();
    ShowInfo();
    Zoznam->setFocus(Qt::OtherFocusReason);
}

// --- Undo and redo --------------------------------------------------------------------------

void TMainForm::ZoznamUndo() { replayHistory(false); }

void TMainForm::ZoznamRedo() { replayHistory(true); }

void TMainForm::replayHistory(bool redo) {
    if (redo ? !history_.canRedo() : !history_.canUndo()) {
        QApplication::beep();
        return;
    }
    vrindel::EditHistory::Step step;
    {
        const ModelReset reset(*model_, syncing_);
        step = redo ? history_.redo() : history_.undo();
    }
    showStep(step);
}

void TMainForm::showStep(const vrindel::EditHistory::Step& step) {
    // A record that left the list: the entry that took its place, as after
    // a Delete; any other: the record itself, as after its action.
    int i = step.display;
    if (step.removed && i == catalogue_.displayCount())
        i -= 1;
    catalogue_.setSelection(i);
    if (step.kind == vrindel::EditHistory::Kind::Rename && Zoradit->isChecked() && catalogue_.selection() >= 0) {
        const ModelReset reset(*model_, syncing_);
        catalogue_.resortAfterRename();
    }
    showSelection();
    ShowInfo();   // the position in the status bar too
    setStatusCount();
}

// --- Zmeniť umiestnenie -----------------------------------------------------------------------

void TMainForm::ZoznamRelocate() {
    const int i = catalogue_.selection();
    if (catalogue_.displayCount() == 0 || i < 0) {
        QApplication::beep();
        return;
    }
    auto* dialog =
        new RelocateDialog(fromRecord(catalogue_.displayAt(i)), fromRecord(catalogue_.locationOfDisplay(i)), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const QString location = dialog->location()->text();
        run([&] { relocateSelected(location); });
    });
    dialog->open();
}

void TMainForm::relocateSelected(const QString& text) {
    const int i = catalogue_.selection();
    if (i < 0 || text.isEmpty())
        return;
    const std::string location = toRecord(text);
    // The same location again is no edit to take back.
    if (catalogue_.locationOfDisplay(i).view() == location)
        return;
    history_.relocateAtDisplay(i, location);
    ShowInfo();
}

// --- The context menu --------------------------------------------------------------------------

QPoint TMainForm::contextMenuPoint() const {
    const QModelIndex current = Zoznam->currentIndex();
    QRect row = Zoznam->visualRect(current);
    if (!current.isValid() || !Zoznam->viewport()->rect().intersects(row))
        row = QRect(0, 0, Zoznam->viewport()->width() / 2, 0);
    return Zoznam->viewport()->mapToGlobal(QPoint(row.left() + 16, row.bottom()));
}

void TMainForm::ZoznamContextMenu(const QPoint& globalPos) {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("ZoznamMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The keys are those of the window; the menu only shows them.
    auto item = [&](const QString& text, const QKeySequence& keys, bool enabled, void (TMainForm::*handler)()) {
        QAction* action = menu->addAction(text);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setShortcutVisibleInContextMenu(true);
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, [this, handler] { run([this, handler] { (this->*handler)(); }); });
        return action;
    };
    const bool selected = catalogue_.selection() >= 0 && catalogue_.displayCount() > 0;
    item(QStringLiteral("&Hľadať..."), QKeySequence(Qt::CTRL | Qt::Key_F), true, &TMainForm::ZoznamFind);
    item(QStringLiteral("Zmeniť &umiestnenie..."), QKeySequence(Qt::Key_F2), selected, &TMainForm::ZoznamRelocate);
    menu->addSeparator();
    item(QStringLiteral("&Späť"), QKeySequence(Qt::CTRL | Qt::Key_Z), history_.canUndo(), &TMainForm::ZoznamUndo);
    item(QStringLiteral("&Znova"), QKeySequence(Qt::CTRL | Qt::Key_Y), history_.canRedo(), &TMainForm::ZoznamRedo);
    menu->popup(globalPos);
}

// --- The list's host: what the view reports, run as events run ----------------------------------

QString TMainForm::rowText(int row) const {
    return fromRecord(catalogue_.displayAt(row));
}

void TMainForm::listMouseDown(Qt::MouseButton button) {
    run([&] { ZoznamMouseDown(button); });
}

void TMainForm::listMouseMove() {
    run([&] { ZoznamMouseMove(); });
}

void TMainForm::listMouseUp() {
    run([&] { ZoznamMouseUp(); });
}

void TMainForm::listRowChosen(int row) {
    userMovedSelection(row);
}

void TMainForm::listTypedAhead(const QString& typed) {
    run([&] {
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

void TMainForm::listRowsShown(int rows) {
    catalogue_.setVisibleRows(rows);
}

void TMainForm::listMenuAt(const QPoint& globalPos) {
    ZoznamContextMenu(globalPos);
}
