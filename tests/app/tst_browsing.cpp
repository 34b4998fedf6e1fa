// Browsing: the details and the status line follow the selection as the
// user moves through the list with keys, typed letters and the mouse.

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>

#include <memory>

#include "AppTestSupport.h"
#include "MainUnit.h"
#include "ZoznamModel.h"

namespace {

QList<Record> numbered(int count) {
    QList<Record> records;
    for (int i = 1; i <= count; ++i)
        records.append({QStringLiteral("Položka %1").arg(i, 2, 10, QLatin1Char('0')), QStringLiteral("CD %1").arg(i)});
    return records;
}

void sendMouse(QWidget* viewport, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, at, viewport->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
}

}  // namespace

class Browsing : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowUnderTest> window_;

private slots:
    void init() {
        window_ = std::make_unique<WindowUnderTest>();
        QVERIFY(window_->isValid());
    }
    void cleanup() { window_.reset(); }

    void arrowKeysMoveTheDetailsAndTheStatus() {
        TMainForm& form = window_->open(numbered(10), false, false, true);
        QVERIFY(showWindow(form));
        QCOMPARE(form.focusWidget(), ui(form).Zoznam);

        for (int i = 0; i < 3; ++i)
            press(form, Qt::Key_Down);
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("4 / 10"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Položka 04"));
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("CD 4"));
        QCOMPARE(selectedName(form), QStringLiteral("Položka 04"));

        press(form, Qt::Key_Up);
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("3 / 10"));
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("CD 3"));

        // At the top the list does not move; the details stay.
        press(form, Qt::Key_Home);
        press(form, Qt::Key_Up);
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("1 / 10"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Položka 01"));
        // Browsing never changes the count panel.
        QCOMPARE(ui(form).Status->panelText(0), QStringLiteral(" Počet záznamov: 10"));
        QVERIFY(window_->boxes().shown.isEmpty());
    }

    void pageKeysHomeAndEndScrollWithTheSelection() {
        TMainForm& form = window_->open(numbered(60), true, false, true);
        QVERIFY(showWindow(form));
        QScrollBar* bar = ui(form).Zoznam->verticalScrollBar();

        press(form, Qt::Key_End);
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("60 / 60"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Položka 60"));
        QVERIFY(bar->value() > 0);
        QCOMPARE(form.catalogue().topIndex(), bar->value());

        press(form, Qt::Key_PageUp);
        const int afterPageUp = form.catalogue().selection();
        QVERIFY(afterPageUp < 59 && afterPageUp > 30);
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Položka %1").arg(afterPageUp + 1));
        QCOMPARE(form.catalogue().topIndex(), bar->value());

        press(form, Qt::Key_Home);
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("1 / 60"));
        QCOMPARE(bar->value(), 0);
        QCOMPARE(form.catalogue().topIndex(), 0);

        press(form, Qt::Key_PageDown);
        QVERIFY(form.catalogue().selection() > 0);
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("CD %1").arg(form.catalogue().selection() + 1));
    }

    void typedLettersSelectTheFirstNameThatBeginsWithThem() {
        // Storage order, as the list shows it with sorting off.
        TMainForm& form = window_->open({{"Alfa", "1"},
                                         {"Ábel", "2"},
                                         {"beta", "3"},
                                         {"Bravo", "4"},
                                         {"chata", "5"},
                                         {"Cyril", "6"},
                                         {"brána", "7"}},
                                        false, false, true);
        QVERIFY(showWindow(form));

        typeText(form, QStringLiteral("B"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("beta"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("3 / 7"));
        typeText(form, QStringLiteral("r"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Bravo"));
        typeText(form, QStringLiteral("á"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("brána"));
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("7"));

        // Backspace takes back the last letter...
        press(form, Qt::Key_Backspace);
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Bravo"));
        // ...and a search text it empties selects the first entry.
        press(form, Qt::Key_Backspace);
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("beta"));
        press(form, Qt::Key_Backspace);
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Alfa"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("1 / 7"));

        // Accents count: "á" is not "a".
        typeText(form, QStringLiteral("á"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Ábel"));

        // A pause starts a new search text.
        QTest::qWait(600);
        typeText(form, QStringLiteral("c"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("chata"));
        typeText(form, QStringLiteral("y"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Cyril"));

        // Letters that begin no name leave the selection where it is.
        QTest::qWait(600);
        typeText(form, QStringLiteral("xq"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Cyril"));
        QVERIFY(window_->boxes().shown.isEmpty());
    }

    void typedLettersInNameOrder() {
        TMainForm& form = window_->open({{"chata", "1"}, {"Dom", "2"}, {"hrad", "3"}, {"Čaj", "4"}}, true, false, true);
        QVERIFY(showWindow(form));
        // Slovak order puts "ch" after "h".
        QCOMPARE(listedNames(form), QStringList({"Čaj", "Dom", "hrad", "chata"}));
        typeText(form, QStringLiteral("c"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("chata"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("4 / 4"));
        QTest::qWait(600);
        typeText(form, QStringLiteral("Č"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Čaj"));
    }

    void leftDragShowsEachRecordUnderThePointer() {
        TMainForm& form = window_->open(numbered(8), false, false, true);
        QVERIFY(showWindow(form));
        QWidget* viewport = ui(form).Zoznam->viewport();

        sendMouse(viewport, QEvent::MouseButtonPress, rowCentre(form, 0), Qt::LeftButton, Qt::LeftButton);
        QVERIFY(form.DragSelecting);
        for (int row = 1; row <= 5; ++row) {
            sendMouse(viewport, QEvent::MouseMove, rowCentre(form, row), Qt::NoButton, Qt::LeftButton);
            QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Položka %1").arg(row + 1, 2, 10, QLatin1Char('0')));
            QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("CD %1").arg(row + 1));
            QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("%1 / 8").arg(row + 1));
        }
        sendMouse(viewport, QEvent::MouseButtonRelease, rowCentre(form, 5), Qt::LeftButton, Qt::NoButton);
        QVERIFY(!form.DragSelecting);
        QCOMPARE(form.catalogue().selection(), 5);
    }

    // Beyond the list's edge the drag goes on: the list scrolls towards the
    // pointer, and whatever row it stops on is highlighted, shown, counted
    // in the status and is what Delete removes.
    void aDragBeyondTheListKeepsOneRecord_data() {
        QTest::addColumn<int>("startRow");
        QTest::addColumn<int>("beyond");   // pixels past the edge; negative: above the top
        QTest::addColumn<int>("holdMs");
        QTest::newRow("10 px below, briefly") << 0 << 10 << 300;
        QTest::newRow("40 px below, long") << 0 << 40 << 2000;
        QTest::newRow("above the top") << 40 << -15 << 400;
    }
    void aDragBeyondTheListKeepsOneRecord() {
        QFETCH(int, startRow);
        QFETCH(int, beyond);
        QFETCH(int, holdMs);
        TMainForm& form = window_->open(numbered(60), false, false, true);
        QVERIFY(showWindow(form));
        QWidget* viewport = ui(form).Zoznam->viewport();
        if (startRow > 0) {
            ui(form).Zoznam->verticalScrollBar()->setValue(startRow);
        }
        const int first = ui(form).Zoznam->verticalScrollBar()->value();
        sendMouse(viewport, QEvent::MouseButtonPress, rowCentre(form, first), Qt::LeftButton, Qt::LeftButton);
        for (int k = 1; k <= 3; ++k)
            sendMouse(viewport, QEvent::MouseMove, rowCentre(form, first + k), Qt::NoButton, Qt::LeftButton);
        const QPoint out(rowCentre(form, first).x(), beyond > 0 ? viewport->height() + beyond : beyond);
        sendMouse(viewport, QEvent::MouseMove, out, Qt::NoButton, Qt::LeftButton);
        QTest::qWait(holdMs);
        sendMouse(viewport, QEvent::MouseButtonRelease, out, Qt::LeftButton, Qt::NoButton);
        QTest::qWait(200);   // nothing goes on after the release

        const int selected = form.catalogue().selection();
        const QString name = QStringLiteral("Položka %1").arg(selected + 1, 2, 10, QLatin1Char('0'));
        QCOMPARE(selectedName(form), name);
        QCOMPARE(ui(form).Zoznam->currentIndex().row(), selected);
        QCOMPARE(ui(form).Polozka->text(), name);
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("%1 / 60").arg(selected + 1));
        // The list scrolled towards the pointer, and the row is in view.
        const int top = ui(form).Zoznam->verticalScrollBar()->value();
        QVERIFY(beyond > 0 ? top > first : top < first);
        QVERIFY(selected >= top && selected < top + ui(form).Zoznam->visibleRows());

        press(form, Qt::Key_Delete);
        QVERIFY(!listedNames(form).contains(name));
        QCOMPARE(listedNames(form).size(), 59);
        QCOMPARE(form.catalogue().selection(), selected);
        QCOMPARE(selectedName(form), ui(form).Polozka->text());
    }

    void rightDragLeavesTheSelectionAlone() {
        TMainForm& form = window_->open(numbered(8), false, false, true);
        QVERIFY(showWindow(form));
        QWidget* viewport = ui(form).Zoznam->viewport();

        sendMouse(viewport, QEvent::MouseButtonPress, rowCentre(form, 3), Qt::RightButton, Qt::RightButton);
        QVERIFY(!form.DragSelecting);
        for (int row = 4; row <= 6; ++row)
            sendMouse(viewport, QEvent::MouseMove, rowCentre(form, row), Qt::NoButton, Qt::RightButton);
        sendMouse(viewport, QEvent::MouseButtonRelease, rowCentre(form, 6), Qt::RightButton, Qt::NoButton);
        QCOMPARE(form.catalogue().selection(), 0);
        QCOMPARE(selectedName(form), QStringLiteral("Položka 01"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Položka 01"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("1 / 8"));

        // Nor does a right click take the focus from the edit that has it;
        // a left click does.
        ui(form).NewPolozka->setFocus();
        QTest::mouseClick(viewport, Qt::RightButton, Qt::NoModifier, rowCentre(form, 2));
        QTest::mouseClick(viewport, Qt::MiddleButton, Qt::NoModifier, rowCentre(form, 2));
        QCOMPARE(form.focusWidget(), ui(form).NewPolozka);
        QCOMPARE(form.catalogue().selection(), 0);
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, rowCentre(form, 2));
        QCOMPARE(form.focusWidget(), ui(form).Zoznam);
        QCOMPARE(form.catalogue().selection(), 2);
    }

    void clickSelectsAndShows() {
        TMainForm& form = window_->open(numbered(5), false, false, true);
        QVERIFY(showWindow(form));
        QTest::mouseClick(ui(form).Zoznam->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(form, 2));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Položka 03"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("3 / 5"));
        QVERIFY(!form.DragSelecting);
    }

    void theSelectedRowStaysSelectedWithCtrlOrBelowTheRows() {
        // A list box with one selection cannot lose it to a click or a key:
        // the highlighted row is the record a Delete removes.
        TMainForm& form = window_->open(numbered(5), false, false, true);
        QVERIFY(showWindow(form));
        QTest::mouseClick(ui(form).Zoznam->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(form, 2));
        QTest::mouseClick(ui(form).Zoznam->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(form, 2));
        QCOMPARE(selectedName(form), QStringLiteral("Položka 03"));
        press(form, Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(selectedName(form), QStringLiteral("Položka 03"));
        QCOMPARE(form.catalogue().selection(), 2);
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("3 / 5"));

        // Nor to a click below the last entry, on a row or a double click.
        const QPoint below(30, rowCentre(form, 4).y() + 3 * 13);
        QTest::mouseClick(ui(form).Zoznam->viewport(), Qt::LeftButton, Qt::NoModifier, below);
        QTest::mouseDClick(ui(form).Zoznam->viewport(), Qt::LeftButton, Qt::NoModifier, below);
        QCOMPARE(selectedName(form), QStringLiteral("Položka 03"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("3 / 5"));
        // The highlighted record is the one Delete removes.
        press(form, Qt::Key_Delete);
        QCOMPARE(listedNames(form).indexOf(QStringLiteral("Položka 03")), -1);
        QCOMPARE(selectedName(form), QStringLiteral("Položka 04"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Položka 04"));
    }

    void duplicateNamesShowTheFirstOnesLocation() {
        TMainForm& form = window_->open({{"Disk", "Prvá polica"}, {"Iný", "x"}, {"DISK", "Druhá polica"}}, false, false, true);
        QVERIFY(showWindow(form));
        press(form, Qt::Key_End);
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("DISK"));
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("Prvá polica"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("3 / 3"));
    }

    void emptyCatalogueShowsNothing() {
        TMainForm& form = window_->open({}, true, false, true);
        QVERIFY(showWindow(form));
        press(form, Qt::Key_Down);
        typeText(form, QStringLiteral("a"));
        press(form, Qt::Key_Backspace);
        QTest::mouseClick(ui(form).Zoznam->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
        QVERIFY(ui(form).Polozka->text().isEmpty());
        QVERIFY(ui(form).Poznamka->text().isEmpty());
        QCOMPARE(ui(form).Status->panelText(0), QStringLiteral(" Počet záznamov: 0"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("0 / 0"));
        QVERIFY(window_->boxes().shown.isEmpty());
    }
};

QTEST_MAIN(Browsing)
#include "tst_browsing.moc"
