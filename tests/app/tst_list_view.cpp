// The list itself: its rows are worked out from their numbers, so these
// check that the scroll range, the row under the pointer, the wheel, the
// painting and what a screen reader is told all agree with the catalogue,
// also after rows come and go.

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <memory>

#include "AppTestSupport.h"
#include "MainUnit.h"
#include "ZoznamModel.h"

namespace {

QList<Record> numbered(int count) {
    QList<Record> records;
    for (int i = 1; i <= count; ++i)
        records.append({QStringLiteral("Kniha %1").arg(i, 3, 10, QLatin1Char('0')), QStringLiteral("Police %1").arg(i)});
    return records;
}

}  // namespace

class ListView : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowUnderTest> window_;

    TMainForm& open(int records) { return window_->open(numbered(records), true, true, true); }

private slots:
    void init() {
        window_ = std::make_unique<WindowUnderTest>();
        QVERIFY(window_->isValid());
    }
    void cleanup() {
        if (window_->isOpen())
            QVERIFY(window_->boxes().shown.isEmpty());
        window_.reset();
    }

    void theScrollRangeFollowsAddsAndDeletes() {
        TMainForm& form = open(40);
        QVERIFY(showWindow(form));
        QScrollBar* bar = ui(form).Zoznam->verticalScrollBar();
        const int rows = ui(form).Zoznam->visibleRows();
        QVERIFY(rows >= 10 && rows < 40);
        // The last position shows the last record in the bottom row.
        QCOMPARE(bar->maximum(), 40 - rows);
        QCOMPARE(bar->pageStep(), rows);

        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_End);
        QCOMPARE(bar->value(), 40 - rows);
        press(form, Qt::Key_Delete);
        QCOMPARE(bar->maximum(), 39 - rows);
        QCOMPARE(bar->value(), 39 - rows);
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Kniha 039"));

        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("Atlas"));
        press(form, Qt::Key_Return);
        typeText(form, QStringLiteral("Skriňa"));
        press(form, Qt::Key_Return);
        QCOMPARE(bar->maximum(), 40 - rows);
        // The new record sorts first and is brought into view.
        QCOMPARE(bar->value(), 0);
        QCOMPARE(form.catalogue().topIndex(), 0);

        // A list shorter than the view does not scroll.
        for (int i = 0; i < 40 - rows + 1; ++i) {
            ui(form).Zoznam->setFocus();
            press(form, Qt::Key_Delete);
        }
        QCOMPARE(form.catalogue().displayCount(), rows - 1);
        QCOMPARE(bar->maximum(), 0);
    }

    void aClickInAScrolledListSelectsTheRowUnderThePointer() {
        TMainForm& form = open(100);
        QVERIFY(showWindow(form));
        QScrollBar* bar = ui(form).Zoznam->verticalScrollBar();
        bar->setValue(50);
        QCOMPARE(form.catalogue().topIndex(), 50);
        QWidget* viewport = ui(form).Zoznam->viewport();
        // The third row in view, clicked near its lower edge.
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, QPoint(30, 2 * 13 + 12));
        QCOMPARE(form.catalogue().selection(), 52);
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Kniha 053"));
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("Police 53"));
        QCOMPARE(ui(form).Zoznam->indexAt(QPoint(30, 2 * 13 + 13)).row(), 53);
        QCOMPARE(ui(form).Zoznam->visualRect(form.model().index(52)), QRect(0, 26, viewport->width(), 13));
        // Rows scrolled out of view lie above or below the viewport.
        QVERIFY(ui(form).Zoznam->visualRect(form.model().index(10)).bottom() < 0);
        QVERIFY(ui(form).Zoznam->visualRect(form.model().index(99)).top() > viewport->height());

        // Below the last record nothing is hit.
        bar->setValue(bar->maximum());
        QVERIFY(!ui(form).Zoznam->indexAt(QPoint(30, 99 * 13)).isValid());
        QVERIFY(!ui(form).Zoznam->indexAt(QPoint(-1, 5)).isValid());
    }

    void theWheelScrollsByRows() {
        TMainForm& form = open(100);
        QVERIFY(showWindow(form));
        QScrollBar* bar = ui(form).Zoznam->verticalScrollBar();
        QWidget* viewport = ui(form).Zoznam->viewport();
        const QPoint at(30, 30);
        QWheelEvent down(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                         Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &down);
        const int step = QApplication::wheelScrollLines();
        QCOMPARE(bar->value(), step);
        QCOMPARE(form.catalogue().topIndex(), step);
        // The rows moved with it: the top row in view is the one scrolled to.
        QCOMPARE(ui(form).Zoznam->indexAt(QPoint(30, 1)).row(), step);
        // Scrolling does not move the selection.
        QCOMPARE(form.catalogue().selection(), 0);
    }

    void theSelectedRowIsPaintedWhereItIs() {
        TMainForm& form = open(100);
        QVERIFY(showWindow(form));
        ui(form).Zoznam->setFocus();
        for (int i = 0; i < 30; ++i)
            press(form, Qt::Key_Down);
        QCOMPARE(form.catalogue().selection(), 30);
        const int top = ui(form).Zoznam->verticalScrollBar()->value();
        QVERIFY(top > 0 && top <= 30);

        const QImage image = ui(form).Zoznam->viewport()->grab().toImage();
        const QColor highlight = ui(form).Zoznam->palette().color(QPalette::Active, QPalette::Highlight);
        const QColor base = ui(form).Zoznam->palette().color(QPalette::Active, QPalette::Base);
        // Far right in each row, where no text reaches.
        const int x = image.width() - 4;
        auto colourOfRow = [&](int row) { return image.pixelColor(x, (row - top) * 13 + 6); };
        QCOMPARE(colourOfRow(30), highlight);
        QCOMPARE(colourOfRow(29), base);
        QCOMPARE(colourOfRow(top), base);

        // After a delete above the view's end the highlight follows the
        // record that took the place.
        press(form, Qt::Key_Delete);
        QCOMPARE(form.catalogue().selection(), 30);
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Kniha 032"));
        const int after = ui(form).Zoznam->verticalScrollBar()->value();
        const QImage again = ui(form).Zoznam->viewport()->grab().toImage();
        QCOMPARE(again.pixelColor(x, (30 - after) * 13 + 6), highlight);
    }

    void aScreenReaderSeesTheRecords() {
        TMainForm& form = open(25);
        QVERIFY(showWindow(form));
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(ui(form).Zoznam);
        QVERIFY(list);
        QCOMPARE(list->role(), QAccessible::List);
        QCOMPARE(list->childCount(), 25);
        QAccessibleInterface* row = list->child(7);
        QVERIFY(row);
        QCOMPARE(row->role(), QAccessible::ListItem);
        QCOMPARE(row->text(QAccessible::Name), QStringLiteral("Kniha 008"));
        QCOMPARE(row->text(QAccessible::Description), QStringLiteral("Police 8"));
        QCOMPARE(list->indexOfChild(row), 7);
        QCOMPARE(row->parent(), list);
        QVERIFY(!row->state().selected);
        QVERIFY(list->child(0)->state().selected);
        QVERIFY(list->child(24)->state().offscreen);
        // The row under a point of the screen.
        const QRect rect = row->rect();
        QCOMPARE(list->childAt(rect.center().x(), rect.center().y()), row);

        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_Down);
        QVERIFY(list->child(1)->state().selected);
        QVERIFY(list->child(1)->state().focused);
        QCOMPARE(list->focusChild(), list->child(1));

        // Rows taken away: every row still names its own record.
        press(form, Qt::Key_Delete);
        QCOMPARE(list->childCount(), 24);
        QCOMPARE(list->child(1)->text(QAccessible::Name), QStringLiteral("Kniha 003"));
        QCOMPARE(list->child(7)->text(QAccessible::Name), QStringLiteral("Kniha 009"));
        QCOMPARE(list->child(7)->text(QAccessible::Description), QStringLiteral("Police 9"));
        QCOMPARE(list->indexOfChild(list->child(7)), 7);
        QCOMPARE(list->child(24), nullptr);
    }
};

QTEST_MAIN(ListView)
#include "tst_list_view.moc"
