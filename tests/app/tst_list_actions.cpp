// The list's actions beyond its first handlers: finding a record, taking
// edits back and doing them again, giving a record another location, and
// the context menu that offers them.

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTableView>

#include <memory>

#include "AppTestSupport.h"
#include "ListDialogs.h"
#include "MainUnit.h"

namespace {

const QList<Record> Shelf = {{"Šachy.zip", "CD 1"}, {"Dáma", "Skriňa"},  {"CD 10 zálohy", "Pivnica"},
                             {"Go", "cd 12"},       {"sadza", "Garáž"},  {"Mlyn", "CD 2"}};

// The dialog of that kind now open; a closed one may linger until deleted.
template <class T>
T* openDialog(TMainForm& form) {
    for (T* dialog : form.findChildren<T*>())
        if (dialog->isVisible())
            return dialog;
    return nullptr;
}

void key(QWidget* target, int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(target, Qt::Key(k), modifiers);
}

QStringList rows(QTableView* view) {
    QStringList out;
    for (int r = 0; r < view->model()->rowCount(); ++r)
        out << view->model()->index(r, 0).data().toString() + u'|' + view->model()->index(r, 1).data().toString();
    return out;
}

void sendMouse(QWidget* viewport, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, at, viewport->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
}

// Types into a widget as a keyboard layout delivers each character.
void typeInto(QWidget* target, const QString& text) {
    for (QChar c : text) {
        const int k = c.unicode() < 0x80 ? c.toUpper().unicode() : 0;
        QKeyEvent down(QEvent::KeyPress, k, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &down);
        QKeyEvent up(QEvent::KeyRelease, k, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &up);
    }
}

QMenu* openMenu(TMainForm& form) {
    for (QMenu* menu : form.findChildren<QMenu*>(QStringLiteral("ZoznamMenu")))
        if (menu->isVisible())
            return menu;
    return nullptr;
}

}  // namespace

class ListActions : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowUnderTest> window_;

private slots:
    void init() {
        window_ = std::make_unique<WindowUnderTest>();
        QVERIFY(window_->isValid());
    }
    void cleanup() { window_.reset(); }

    void findFollowsEachKeystrokeAndSelectsInTheList() {
        TMainForm& form = window_->open(Shelf, true, false, true);
        QVERIFY(showWindow(form));
        ui(form).NewPolozka->setFocus();   // Ctrl+F works wherever the focus is
        press(form, Qt::Key_F, Qt::ControlModifier);
        auto* find = openDialog<FindDialog>(form);
        QVERIFY(find);
        QCOMPARE(find->windowTitle(), QStringLiteral("Hľadať"));
        QVERIFY(find->isModal());
        QCOMPARE(find->results()->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Položka"));
        QCOMPARE(find->results()->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Umiestnenie"));
        QCOMPARE(find->results()->model()->rowCount(), 6);

        // Case and accents ignored, in the list's (name) order, name or location.
        QTest::keyClicks(find->text(), QStringLiteral("sa"));
        QCOMPARE(rows(find->results()), QStringList({"sadza|Garáž", "Šachy.zip|CD 1"}));
        QCOMPARE(find->count()->text(), QStringLiteral("Nájdené záznamy: 2 z 6"));
        find->text()->clear();
        QTest::keyClicks(find->text(), QStringLiteral("cd 1"));
        QCOMPARE(rows(find->results()), QStringList({"CD 10 zálohy|Pivnica", "Go|cd 12", "Šachy.zip|CD 1"}));
        QTest::keyClicks(find->text(), QStringLiteral("x"));
        QCOMPARE(find->count()->text(), QStringLiteral("Nenašiel sa žiadny záznam."));
        key(find->text(), Qt::Key_Backspace);

        // Down moves in the list while typing stays in the edit; Enter
        // selects that record in the window.
        key(find->text(), Qt::Key_Down);
        QCOMPARE(find->results()->currentIndex().row(), 1);
        key(find->text(), Qt::Key_Return);
        QVERIFY(!openDialog<FindDialog>(form));
        QCOMPARE(selectedName(form), QStringLiteral("Go"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Go"));
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("cd 12"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("3 / 6"));

        // Escape closes with nothing changed; a double click chooses.
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_F, Qt::ControlModifier);
        find = openDialog<FindDialog>(form);
        QVERIFY(find);
        QTest::keyClicks(find->text(), QStringLiteral("mlyn"));
        key(find->text(), Qt::Key_Escape);
        QVERIFY(!openDialog<FindDialog>(form));
        QCOMPARE(selectedName(form), QStringLiteral("Go"));
        press(form, Qt::Key_F, Qt::ControlModifier);
        find = openDialog<FindDialog>(form);
        QVERIFY(find);
        QTest::keyClicks(find->text(), QStringLiteral("skrin"));
        QTableView* results = find->results();
        QVERIFY(QTest::qWaitForWindowExposed(find));
        QApplication::processEvents();
        const QRect first = results->visualRect(results->model()->index(0, 0));
        // A double click: a click, then the second press as a double click.
        QTest::mouseClick(results->viewport(), Qt::LeftButton, Qt::NoModifier, first.center());
        QTest::mouseDClick(results->viewport(), Qt::LeftButton, Qt::NoModifier, first.center());
        QVERIFY(!openDialog<FindDialog>(form));
        QCOMPARE(selectedName(form), QStringLiteral("Dáma"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("2 / 6"));
        QVERIFY(window_->boxes().shown.isEmpty());
    }

    // Every kind of edit, taken back in order, leaves the file as it was,
    // byte for byte; done again, as it was after them.
    void undoAndRedoEveryEdit_data() {
        QTest::addColumn<bool>("sorted");
        QTest::newRow("in name order") << true;
        QTest::newRow("in storage order") << false;
    }
    void undoAndRedoEveryEdit() {
        QFETCH(bool, sorted);
        TMainForm& form = window_->open(Shelf, sorted, false, true);
        const QByteArray original = readFile(QStringLiteral("Zoznam.dat"));
        QVERIFY(showWindow(form));
        const QStringList listed = listedNames(form);

        // Delete the second entry, add one, rename one, relocate one.
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_Down);
        press(form, Qt::Key_Delete);
        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("Nový"));
        ui(form).NewPoznamka->setFocus();
        typeText(form, QStringLiteral("Povala"));
        press(form, Qt::Key_Return);
        ui(form).Polozka->setFocus();
        ui(form).Polozka->selectAll();
        typeText(form, QStringLiteral("Zmenený"));
        press(form, Qt::Key_Return);
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_F2);
        auto* relocate = openDialog<RelocateDialog>(form);
        QVERIFY(relocate);
        typeInto(relocate->location(), QStringLiteral("Podkrovie"));
        key(relocate->location(), Qt::Key_Return);
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("Podkrovie"));
        const QStringList edited = listedNames(form);
        QCOMPARE(form.history().canUndo(), true);

        // In an edit, Ctrl+Z is the edit's own.
        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("abc"));
        press(form, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(ui(form).NewPolozka->text().size() < 3);
        QCOMPARE(listedNames(form), edited);

        ui(form).Zoznam->setFocus();
        for (int k = 0; k < 4; ++k)
            press(form, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(listedNames(form), listed);
        QCOMPARE(selectedName(form), ui(form).Polozka->text());
        QCOMPARE(ui(form).Status->panelText(0), QStringLiteral(" Počet záznamov: 6"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("%1 / 6").arg(form.catalogue().selection() + 1));
        QVERIFY(!form.history().canUndo());
        press(form, Qt::Key_Z, Qt::ControlModifier);   // nothing left: nothing happens
        QCOMPARE(listedNames(form), listed);

        // Done again, both redo keys, then taken back once more to the start.
        press(form, Qt::Key_Y, Qt::ControlModifier);
        press(form, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        press(form, Qt::Key_Y, Qt::ControlModifier);
        press(form, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(listedNames(form), edited);
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("Podkrovie"));
        for (int k = 0; k < 4; ++k)
            press(form, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(form.close());
        QCOMPARE(readFile(QStringLiteral("Zoznam.dat")), original);
        QVERIFY(window_->boxes().shown.isEmpty());
    }

    void relocateTakesTheEditRulesAndEscapeLeavesIt() {
        TMainForm& form = window_->open(Shelf, false, false, true);
        QVERIFY(showWindow(form));
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_F2);
        auto* relocate = openDialog<RelocateDialog>(form);
        QVERIFY(relocate);
        QCOMPARE(relocate->windowTitle(), QStringLiteral("Zmeniť umiestnenie"));
        QCOMPARE(relocate->location()->selectedText(), QStringLiteral("CD 1"));
        // The record's rules: 31 characters, Windows-1250 only.
        QApplication::clipboard()->setText(QString(40, QChar(u'ž')));
        key(relocate->location(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(relocate->location()->text(), QString(31, QChar(u'ž')));
        relocate->location()->clear();
        QVERIFY(!relocate->okButton()->isEnabled());   // a record keeps a location
        typeInto(relocate->location(), QStringLiteral("Ωmega"));
        QCOMPARE(relocate->location()->text(), QStringLiteral("mega"));
        key(relocate->location(), Qt::Key_Escape);
        QVERIFY(!openDialog<RelocateDialog>(form));
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("CD 1"));
        QVERIFY(!form.history().canUndo());

        // The same location again is no edit.
        press(form, Qt::Key_F2);
        relocate = openDialog<RelocateDialog>(form);
        QVERIFY(relocate);
        key(relocate->location(), Qt::Key_Return);
        QVERIFY(!form.history().canUndo());
        QVERIFY(form.close());
        QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))), Shelf);
    }

    void theContextMenuOffersTheActionsAndMovesNothing() {
        TMainForm& form = window_->open(Shelf, false, false, true);
        QVERIFY(showWindow(form));
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_F10, Qt::ShiftModifier);
        QMenu* menu = openMenu(form);
        QVERIFY(menu);
        QStringList items;
        for (QAction* a : menu->actions())
            if (!a->isSeparator())
                items << a->text() + u'|' + a->shortcut().toString() + (a->isEnabled() ? "" : "|off");
        QCOMPARE(items, QStringList({"&Hľadať...|Ctrl+F", "Zmeniť &umiestnenie...|F2", "&Späť|Ctrl+Z|off",
                                     "&Znova|Ctrl+Y|off"}));
        menu->close();
        press(form, Qt::Key_Menu);
        QVERIFY(openMenu(form));
        openMenu(form)->close();

        // A right click on another row opens it and selects nothing; a
        // right-button drag opens nothing.
        QWidget* viewport = ui(form).Zoznam->viewport();
        const QPoint at = rowCentre(form, 3);
        sendMouse(viewport, QEvent::MouseButtonPress, at, Qt::RightButton, Qt::RightButton);
        sendMouse(viewport, QEvent::MouseButtonRelease, at, Qt::RightButton, Qt::NoButton);
        menu = openMenu(form);
        QVERIFY(menu);
        QCOMPARE(form.catalogue().selection(), 0);
        // Its items run the actions: relocate, then undo through the menu.
        QAction* relocateItem = menu->actions().at(1);
        menu->hide();
        relocateItem->trigger();
        auto* relocate = openDialog<RelocateDialog>(form);
        QVERIFY(relocate);
        typeInto(relocate->location(), QStringLiteral("Iné"));
        key(relocate->location(), Qt::Key_Return);
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("Iné"));
        sendMouse(viewport, QEvent::MouseButtonPress, at, Qt::RightButton, Qt::RightButton);
        sendMouse(viewport, QEvent::MouseButtonRelease, at, Qt::RightButton, Qt::NoButton);
        menu = openMenu(form);
        QVERIFY(menu && menu->actions().at(3)->isEnabled());
        QAction* undoItem = menu->actions().at(3);
        menu->hide();
        undoItem->trigger();
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("CD 1"));

        sendMouse(viewport, QEvent::MouseButtonPress, rowCentre(form, 1), Qt::RightButton, Qt::RightButton);
        sendMouse(viewport, QEvent::MouseMove, rowCentre(form, 4), Qt::NoButton, Qt::RightButton);
        sendMouse(viewport, QEvent::MouseButtonRelease, rowCentre(form, 4), Qt::RightButton, Qt::NoButton);
        QVERIFY(!openMenu(form));
        QCOMPARE(form.catalogue().selection(), 0);
    }
};

QTEST_MAIN(ListActions)
#include "tst_list_actions.moc"
