// The sorted view, deleting and renaming: the selected record stays
// selected, and every name keeps its own location down to the file.

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <memory>

#include "AppTestSupport.h"
#include "MainUnit.h"

class SortedEdit : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowUnderTest> window_;

    TMainForm& open(bool sorted, const QList<Record>& records) { return window_->open(records, sorted, true, true); }

    static void add(TMainForm& form, const QString& name, const QString& location) {
        ui(form).NewPolozka->setFocus();
        typeText(form, name);
        press(form, Qt::Key_Return);
        typeText(form, location);
        press(form, Qt::Key_Return);
    }

    static void rename(TMainForm& form, const QString& name, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        ui(form).Polozka->setFocus();
        ui(form).Polozka->selectAll();
        typeText(form, name);
        press(form, Qt::Key_Return, modifiers);
    }

private slots:
    void init() {
        window_ = std::make_unique<WindowUnderTest>();
        QVERIFY(window_->isValid());
    }
    void cleanup() { window_.reset(); }

    void theSelectionSurvivesEverySwitch() {
        TMainForm& form = open(true, {});
        QVERIFY(showWindow(form));
        add(form, QStringLiteral("C"), QStringLiteral("3"));
        add(form, QStringLiteral("A"), QStringLiteral("1"));
        add(form, QStringLiteral("B"), QStringLiteral("2"));
        QCOMPARE(listedNames(form), QStringList({"A", "B", "C"}));
        QCOMPARE(selectedName(form), QStringLiteral("B"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("2 / 3"));

        ui(form).Zoradit->click();
        QCOMPARE(listedNames(form), QStringList({"C", "A", "B"}));
        QCOMPARE(selectedName(form), QStringLiteral("B"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("3 / 3"));

        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_Home);
        QCOMPARE(selectedName(form), QStringLiteral("C"));
        ui(form).Zoradit->click();
        QCOMPARE(listedNames(form), QStringList({"A", "B", "C"}));
        QCOMPARE(selectedName(form), QStringLiteral("C"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("3 / 3"));
        // The details were already those of the selected record.
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("C"));
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("3"));
        QVERIFY(window_->boxes().shown.isEmpty());
    }

    void anAddWhileSortedIsListedLastInStorageOrder() {
        TMainForm& form = open(true, {{"Mango", "1"}, {"Zeler", "2"}});
        QVERIFY(showWindow(form));
        add(form, QStringLiteral("Banán"), QStringLiteral("3"));
        QCOMPARE(listedNames(form), QStringList({"Banán", "Mango", "Zeler"}));
        QCOMPARE(selectedName(form), QStringLiteral("Banán"));
        ui(form).Zoradit->click();
        QCOMPARE(listedNames(form), QStringList({"Mango", "Zeler", "Banán"}));
        QCOMPARE(selectedName(form), QStringLiteral("Banán"));
    }

    void switchingAnEmptyListOnlySetsTheMode() {
        TMainForm& form = open(true, {});
        QVERIFY(showWindow(form));
        ui(form).Zoradit->click();
        QVERIFY(!form.catalogue().sorted());
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("0 / 0"));
        ui(form).Zoradit->click();
        QVERIFY(form.catalogue().sorted());
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("0 / 0"));
        QVERIFY(window_->boxes().shown.isEmpty());
    }

    void aSwitchKeepsTheTopRowNumber() {
        QList<Record> records;
        for (int i = 0; i < 80; ++i)
            records.append({QStringLiteral("Meno %1").arg((i * 37) % 80, 2, 10, QLatin1Char('0')), QString::number(i)});
        TMainForm& form = open(false, records);
        QVERIFY(showWindow(form));
        ui(form).Zoznam->setFocus();
        for (int i = 0; i < 3; ++i)
            press(form, Qt::Key_PageDown);
        const int top = form.catalogue().topIndex();
        QVERIFY(top > 0);
        const QString selected = selectedName(form);

        ui(form).Zoradit->click();
        QCOMPARE(selectedName(form), selected);
        QCOMPARE(ui(form).Polozka->text(), selected);
        const QScrollBar* bar = ui(form).Zoznam->verticalScrollBar();
        QCOMPARE(bar->value(), form.catalogue().topIndex());
        // The top row keeps its number where the selection is still in view.
        const int row = form.catalogue().selection();
        const int rows = ui(form).Zoznam->visibleRows();
        if (row >= top && row < top + rows)
            QCOMPARE(form.catalogue().topIndex(), top);
        else
            QVERIFY(row >= form.catalogue().topIndex() && row < form.catalogue().topIndex() + rows);
    }

    void deleteSelectsTheEntryThatTookThePlace() {
        TMainForm& form = open(false, {{"A", "1"}, {"B", "2"}, {"C", "3"}, {"D", "4"}});
        QVERIFY(showWindow(form));
        ui(form).Zoznam->setFocus();

        press(form, Qt::Key_Down);  // B
        press(form, Qt::Key_Delete);
        QCOMPARE(listedNames(form), QStringList({"A", "C", "D"}));
        QCOMPARE(selectedName(form), QStringLiteral("C"));
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("3"));
        QCOMPARE(ui(form).Status->panelText(0), QStringLiteral(" Počet záznamov: 3"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("2 / 3"));

        press(form, Qt::Key_End);
        press(form, Qt::Key_Delete);
        QCOMPARE(listedNames(form), QStringList({"A", "C"}));
        QCOMPARE(selectedName(form), QStringLiteral("C"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("2 / 2"));

        press(form, Qt::Key_Delete);
        press(form, Qt::Key_Delete);
        QVERIFY(listedNames(form).isEmpty());
        QVERIFY(ui(form).Polozka->text().isEmpty());
        QVERIFY(ui(form).Poznamka->text().isEmpty());
        QCOMPARE(ui(form).Status->panelText(0), QStringLiteral(" Počet záznamov: 0"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("0 / 0"));

        // Delete on an empty list changes nothing.
        press(form, Qt::Key_Delete);
        QCOMPARE(ui(form).Status->panelText(0), QStringLiteral(" Počet záznamov: 0"));
        QVERIFY(window_->boxes().shown.isEmpty());

        QVERIFY(form.close());
        QCOMPARE(readFile(QStringLiteral("Zoznam.dat")).size(), 0);
    }

    void onlyTheDeleteKeyDeletes() {
        // Punctuation whose character code equals the Delete key's code (".")
        // is typed text in the list, not a delete.
        TMainForm& form = open(false, {{"A", "1"}, {"B", "2"}});
        QVERIFY(showWindow(form));
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_Down);
        typeText(form, QStringLiteral(".(&"));
        QCOMPARE(listedNames(form), QStringList({"A", "B"}));
        QCOMPARE(selectedName(form), QStringLiteral("B"));
        QCOMPARE(ui(form).Status->panelText(0), QStringLiteral(" Počet záznamov: 2"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("2 / 2"));
    }

    void deletingADuplicateRemovesTheFirstStoredRecord() {
        TMainForm& form = open(false, {{"Disk", "1"}, {"x", "2"}, {"DISK", "3"}});
        QVERIFY(showWindow(form));
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_End);
        press(form, Qt::Key_Delete);
        QCOMPARE(listedNames(form), QStringList({"Disk", "x"}));
        QVERIFY(form.close());
        // The storage lists lost the first match of "DISK": "Disk" and its
        // location.
        QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))), QList<Record>({{"x", "2"}, {"DISK", "3"}}));
    }

    void renameToTheSameNameOrACaseVariantDoesNothing() {
        TMainForm& form = open(true, {{"Kniha", "1"}, {"Lampa", "2"}});
        QVERIFY(showWindow(form));
        rename(form, QStringLiteral("Kniha"));
        rename(form, QStringLiteral("KNIHA"));
        QCOMPARE(listedNames(form), QStringList({"Kniha", "Lampa"}));
        // An empty name does nothing either.
        ui(form).Polozka->selectAll();
        press(form, Qt::Key_Backspace);
        press(form, Qt::Key_Return);
        QCOMPARE(listedNames(form), QStringList({"Kniha", "Lampa"}));
        QVERIFY(window_->boxes().shown.isEmpty());
    }

    void renameWithAnEmptyListIsIgnored() {
        TMainForm& form = open(true, {});
        QVERIFY(showWindow(form));
        rename(form, QStringLiteral("Nič"));
        QVERIFY(listedNames(form).isEmpty());
        QVERIFY(window_->boxes().shown.isEmpty());
    }

    void aRenamedRecordMovesToItsPlaceAndStaysSelected() {
        TMainForm& form = open(true, {{"Auto", "Garáž"}, {"Bicykel", "Pivnica"}, {"Dom", "Ulica"}});
        QVERIFY(showWindow(form));
        rename(form, QStringLiteral("Žehlička"));
        QCOMPARE(listedNames(form), QStringList({"Bicykel", "Dom", "Žehlička"}));
        QCOMPARE(selectedName(form), QStringLiteral("Žehlička"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Žehlička"));
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("Garáž"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("3 / 3"));
        QCOMPARE(ui(form).Status->panelText(0), QStringLiteral(" Počet záznamov: 3"));

        // Storage order is untouched: the renamed record is still first.
        ui(form).Zoradit->click();
        QCOMPARE(listedNames(form), QStringList({"Žehlička", "Bicykel", "Dom"}));
        QCOMPARE(selectedName(form), QStringLiteral("Žehlička"));
    }

    void plainEnterWithAWaitingRecordAddsShiftEnterRenames() {
        TMainForm& form = open(false, {{"Stará", "Polica"}});
        QVERIFY(showWindow(form));
        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("Čakajúca"));
        ui(form).NewPoznamka->setFocus();
        typeText(form, QStringLiteral("Krabica"));
        QVERIFY(ui(form).Write->isEnabled());

        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_Home);
        rename(form, QStringLiteral("Premenovaná"));
        QCOMPARE(listedNames(form), QStringList({"Stará", "Čakajúca"}));
        QCOMPARE(selectedName(form), QStringLiteral("Čakajúca"));

        // Another record waits; Shift+Enter renames all the same.
        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("Ďalšia"));
        ui(form).NewPoznamka->setFocus();
        typeText(form, QStringLiteral("Box"));
        QVERIFY(ui(form).Write->isEnabled());
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_Home);
        rename(form, QStringLiteral("Premenovaná"), Qt::ShiftModifier);
        QCOMPARE(listedNames(form), QStringList({"Premenovaná", "Čakajúca"}));
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Ďalšia"));
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("Polica"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("1 / 2"));

        // Renamed to the waiting name, the record keeps it to itself: Write,
        // still enabled, adds nothing and gives the next Enter to the edit.
        rename(form, QStringLiteral("ĎALŠIA"), Qt::ShiftModifier);
        QVERIFY(ui(form).Write->isEnabled());
        ui(form).NewPolozka->setFocus();
        press(form, Qt::Key_Return);
        QCOMPARE(listedNames(form), QStringList({"ĎALŠIA", "Čakajúca"}));
        QCOMPARE(form.catalogue().recordCount(), 2);
        QVERIFY(!ui(form).Write->isEnabled());
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Ďalšia"));
        press(form, Qt::Key_Return);
        QCOMPARE(form.focusWidget(), ui(form).NewPoznamka);
    }

    void everyRecordKeepsItsLocationAfterRenameAndAdd() {
        TMainForm& form = open(true, {{"Jablko", "Košík"}, {"Hruška", "Miska"}, {"Slivka", "Vrecko"}});
        QVERIFY(showWindow(form));
        // Select "Jablko" (second in name order) and rename it.
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_Down);
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Jablko"));
        rename(form, QStringLiteral("Banán"));
        add(form, QStringLiteral("Citrón"), QStringLiteral("Chladnička"));

        const QStringList names = listedNames(form);
        QCOMPARE(names, QStringList({"Banán", "Citrón", "Hruška", "Slivka"}));
        const QStringList locations = {"Košík", "Chladnička", "Miska", "Vrecko"};
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_Home);
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(ui(form).Polozka->text(), names[i]);
            QCOMPARE(ui(form).Poznamka->text(), locations[i]);
            press(form, Qt::Key_Down);
        }

        QVERIFY(form.close());
        QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))),
                 QList<Record>({{"Banán", "Košík"}, {"Hruška", "Miska"}, {"Slivka", "Vrecko"}, {"Citrón", "Chladnička"}}));
        QVERIFY(window_->boxes().shown.isEmpty());
    }
};

QTEST_MAIN(SortedEdit)
#include "tst_sorted_edit.moc"
