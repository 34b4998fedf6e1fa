#pragma once
// The list's actions beyond its first handlers, behind keys and the list's
// context menu: finding a record, taking edits back and doing them again,
// and giving a record another location. They change the catalogue only as
// the window's own handlers do, so the close saves them like any edit.

#include <QObject>
#include <QPoint>

#include "records/EditHistory.h"

class ListWindow;
class QCheckBox;
class QWidget;
class ZoznamSync;

namespace vrindel {
class Catalogue;
}

class ZoznamActions : public QObject {
    Q_OBJECT
public:
    // Acts on the catalogue through its edit history and shows the outcome
    // in the list; sorted is the window's "Zoradiť" box. Dialogs and the
    // menu open over parent, the window.
    ZoznamActions(ListWindow& window, vrindel::Catalogue& catalogue, vrindel::EditHistory& history, ZoznamSync& list,
                  const QCheckBox& sorted, QWidget* parent);

    void ZoznamFind();       // Ctrl+F: the "Hľadať" dialog
    void ZoznamUndo();       // Ctrl+Z
    void ZoznamRedo();       // Ctrl+Y, Ctrl+Shift+Z
    void ZoznamRelocate();   // F2: the "Zmeniť umiestnenie" dialog
    // The menu of these actions at a point of the screen; Menu, Shift+F10
    // and a right click on the list open it.
    void ZoznamContextMenu(const QPoint& globalPos);
    // Where the keyboard's context menu opens: at the selected row.
    QPoint contextMenuPoint() const;

private:
    // An undo, or a redo; a beep when there is none.
    void replayHistory(bool redo);
    // After an undo or a redo, or a record chosen in the find dialog.
    void showStep(const vrindel::EditHistory::Step& step);
    void selectStored(int j);
    void relocateSelected(const QString& location);

    ListWindow& window_;
    vrindel::Catalogue& catalogue_;
    vrindel::EditHistory& history_;
    ZoznamSync& list_;
    const QCheckBox& sorted_;
    QWidget* parent_;
};
