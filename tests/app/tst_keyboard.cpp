// Keys the window takes before the focused control: Enter and Escape for
// the push buttons, and the accelerators of labels, buttons and check boxes.

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

#include "AppTestSupport.h"
#include "MainUnit.h"

class Keyboard : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowUnderTest> window_;

    // A window over "Dom" and "Auto" in storage order, sorting on.
    TMainForm& open() { return window_->open({{"Dom", "Ulica"}, {"Auto", "Garáž"}}, true, false, true); }

    // Both entry edits filled with a new record: Write is enabled.
    void fillEntry(TMainForm& form) {
        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("Bicykel"));
        ui(form).NewPoznamka->setFocus();
        typeText(form, QStringLiteral("Pivnica"));
        QVERIFY(ui(form).Write->isEnabled());
        QVERIFY(ui(form).Clear->isEnabled());
    }

private slots:
    void init() {
        window_ = std::make_unique<WindowUnderTest>();
        QVERIFY(window_->isValid());
    }
    void cleanup() { window_.reset(); }

    void enterPressesWriteBeforeTheFocusedControl() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        fillEntry(form);
        // In the list: the Enter adds the record rather than reaching the list.
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_Return);
        QCOMPARE(listedNames(form), QStringList({"Auto", "Bicykel", "Dom"}));
        QCOMPARE(form.focusWidget(), ui(form).NewPolozka);
        QVERIFY(ui(form).NewPolozka->text().isEmpty());
        QVERIFY(window_->boxes().shown.isEmpty());
    }

    void enterWithShiftReachesTheFocusedControl() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        fillEntry(form);
        ui(form).NewPolozka->setFocus();
        press(form, Qt::Key_Return, Qt::ShiftModifier);
        // NewPolozkaKeyDown moved on to the location; nothing was added.
        QCOMPARE(form.focusWidget(), ui(form).NewPoznamka);
        QCOMPARE(ui(form).NewPoznamka->selectedText(), QStringLiteral("Pivnica"));
        QCOMPARE(listedNames(form).size(), 2);
        press(form, Qt::Key_Enter, Qt::ControlModifier);
        QCOMPARE(listedNames(form).size(), 2);
        // The keypad's Enter is a plain Enter.
        press(form, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(listedNames(form).size(), 3);
    }

    void aFocusedPushButtonTakesTheEnterItself() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        fillEntry(form);
        ui(form).Clear->setFocus();
        press(form, Qt::Key_Return);
        QVERIFY(ui(form).NewPolozka->text().isEmpty());
        QVERIFY(ui(form).NewPoznamka->text().isEmpty());
        QCOMPARE(listedNames(form).size(), 2);
        // Clear disabled itself while it had the focus: the window keeps it.
        QVERIFY(!ui(form).Clear->isEnabled());
        QCOMPARE(form.focusWidget(), static_cast<QWidget*>(&form));

        fillEntry(form);
        ui(form).Write->setFocus();
        // Drawn as the default button, Write still takes only a plain Enter.
        press(form, Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(listedNames(form).size(), 2);
        press(form, Qt::Key_Return);
        QCOMPARE(listedNames(form).size(), 3);
        QCOMPARE(form.focusWidget(), ui(form).NewPolozka);
    }

    void enterThatNoButtonTakesReachesTheControl() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("Len meno"));
        QVERIFY(!ui(form).Write->isEnabled());
        press(form, Qt::Key_Return);
        QCOMPARE(form.focusWidget(), ui(form).NewPoznamka);
    }

    void escapePressesClearWhereverTheFocusIs() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        fillEntry(form);
        ui(form).Zoradit->setFocus();
        press(form, Qt::Key_Escape, Qt::ShiftModifier);
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Bicykel"));
        press(form, Qt::Key_Escape);
        QVERIFY(ui(form).NewPolozka->text().isEmpty());
        QVERIFY(ui(form).NewPoznamka->text().isEmpty());
        QVERIFY(!ui(form).Clear->isEnabled());
        QCOMPARE(form.focusWidget(), ui(form).Zoradit);
        // With Clear disabled, Escape is only a key.
        press(form, Qt::Key_Escape);
        QVERIFY(ui(form).Zoradit->isChecked());
        QVERIFY(window_->boxes().shown.isEmpty());
    }

    void labelAcceleratorsFocusTheirControls() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        ui(form).NewPolozka->setText(QStringLiteral("celý text"));
        ui(form).NewPolozka->setCursorPosition(2);
        ui(form).Clear->setFocus();
        QCOMPARE(form.focusWidget(), ui(form).Clear);

        press(form, Qt::Key_N, Qt::AltModifier);
        QCOMPARE(form.focusWidget(), ui(form).NewPolozka);
        QCOMPARE(ui(form).NewPolozka->selectedText(), QStringLiteral("celý text"));
        // The edit that has the focus already does not receive it again: the
        // caret stays where it is.
        ui(form).NewPolozka->setCursorPosition(2);
        press(form, Qt::Key_N, Qt::AltModifier);
        QCOMPARE(form.focusWidget(), ui(form).NewPolozka);
        QVERIFY(!ui(form).NewPolozka->hasSelectedText());
        QCOMPARE(ui(form).NewPolozka->cursorPosition(), 2);

        // "&Umiestnenie:" and "Zmazať &umiestnenie" share the U: the label wins.
        const bool delPlaceBox = ui(form).DelPlaceBox->isChecked();
        press(form, Qt::Key_U, Qt::AltModifier);
        QCOMPARE(form.focusWidget(), ui(form).NewPoznamka);
        ui(form).Zoradit->setFocus();
        press(form, Qt::Key_U);
        QCOMPARE(form.focusWidget(), ui(form).NewPoznamka);
        QCOMPARE(ui(form).DelPlaceBox->isChecked(), delPlaceBox);

        press(form, Qt::Key_Z, Qt::AltModifier | Qt::ShiftModifier);
        QCOMPARE(form.focusWidget(), ui(form).Zoznam);
    }

    void buttonAcceleratorsPressAtOnceWithoutMovingTheFocus() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        fillEntry(form);
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_V, Qt::AltModifier);
        QVERIFY(ui(form).NewPolozka->text().isEmpty());
        QCOMPARE(form.focusWidget(), ui(form).Zoznam);

        // A disabled button's letter does nothing.
        press(form, Qt::Key_A, Qt::AltModifier);
        QCOMPARE(listedNames(form).size(), 2);
        // Nor does it, or a letter no control has, type into an edit.
        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("Zz"));
        for (Qt::Key key : {Qt::Key_A, Qt::Key_Q})
            press(form, key, Qt::AltModifier);
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Zz"));
        press(form, Qt::Key_V, Qt::AltModifier);
        QVERIFY(ui(form).NewPolozka->text().isEmpty());
        ui(form).Polozka->setFocus();
        for (Qt::Key key : {Qt::Key_V, Qt::Key_A, Qt::Key_Q})
            press(form, key, Qt::AltModifier | Qt::ShiftModifier);
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Auto"));

        fillEntry(form);
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_A, Qt::AltModifier);
        QCOMPARE(listedNames(form), QStringList({"Auto", "Bicykel", "Dom"}));
        // WriteClick ends in the name edit.
        QCOMPARE(form.focusWidget(), ui(form).NewPolozka);
    }

    void checkBoxAcceleratorsFocusToggleAndRunTheHandler() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        QCOMPARE(listedNames(form), QStringList({"Auto", "Dom"}));

        press(form, Qt::Key_O, Qt::AltModifier);
        QVERIFY(!ui(form).Zoradit->isChecked());
        QCOMPARE(form.focusWidget(), ui(form).Zoradit);
        QCOMPARE(listedNames(form), QStringList({"Dom", "Auto"}));

        // Twice in quick succession: each press counts, at once.
        press(form, Qt::Key_O, Qt::AltModifier);
        press(form, Qt::Key_O, Qt::AltModifier);
        QVERIFY(!ui(form).Zoradit->isChecked());
        QCOMPARE(listedNames(form), QStringList({"Dom", "Auto"}));

        // The bare letter works while a check box has the focus.
        press(form, Qt::Key_O);
        QVERIFY(ui(form).Zoradit->isChecked());
        QCOMPARE(listedNames(form), QStringList({"Auto", "Dom"}));

        // DelExtClick sends the focus on to the name edit.
        press(form, Qt::Key_M, Qt::AltModifier);
        QVERIFY(!ui(form).DelExt->isChecked());
        QCOMPARE(form.focusWidget(), ui(form).NewPolozka);
    }

    void bareLettersAreTextOutsideButtons() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("on"));
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("on"));
        QVERIFY(ui(form).Zoradit->isChecked());
        QCOMPARE(form.focusWidget(), ui(form).NewPolozka);

        ui(form).Zoznam->setFocus();
        typeText(form, QStringLiteral("d"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Dom"));
        QCOMPARE(form.focusWidget(), ui(form).Zoznam);
    }

    void tabSelectsAnEditsTextAndAClickPlacesTheCaret() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        ui(form).NewPoznamka->setText(QStringLiteral("Pivnica"));
        ui(form).NewPolozka->setFocus();
        press(form, Qt::Key_Tab);
        QCOMPARE(form.focusWidget(), ui(form).NewPoznamka);
        QCOMPARE(ui(form).NewPoznamka->selectedText(), QStringLiteral("Pivnica"));

        ui(form).Zoznam->setFocus();
        QTest::mouseClick(ui(form).NewPoznamka, Qt::LeftButton, Qt::NoModifier, QPoint(6, 10));
        QCOMPARE(form.focusWidget(), ui(form).NewPoznamka);
        QVERIFY(!ui(form).NewPoznamka->hasSelectedText());
    }
};

QTEST_MAIN(Keyboard)
#include "tst_keyboard.moc"
