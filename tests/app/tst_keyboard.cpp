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
        form.NewPolozka->setFocus();
        typeText(form, QStringLiteral("Bicykel"));
        form.NewPoznamka->setFocus();
        typeText(form, QStringLiteral("Pivnica"));
        QVERIFY(form.Write->isEnabled());
        QVERIFY(form.Clear->isEnabled());
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
        form.Zoznam->setFocus();
        press(form, Qt::Key_Return);
        QCOMPARE(listedNames(form), QStringList({"Auto", "Bicykel", "Dom"}));
        QCOMPARE(form.focusWidget(), form.NewPolozka);
        QVERIFY(form.NewPolozka->text().isEmpty());
        QVERIFY(window_->boxes().shown.isEmpty());
    }

    void enterWithShiftReachesTheFocusedControl() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        fillEntry(form);
        form.NewPolozka->setFocus();
        press(form, Qt::Key_Return, Qt::ShiftModifier);
        // NewPolozkaKeyDown moved on to the location; nothing was added.
        QCOMPARE(form.focusWidget(), form.NewPoznamka);
        QCOMPARE(form.NewPoznamka->selectedText(), QStringLiteral("Pivnica"));
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
        form.Clear->setFocus();
        press(form, Qt::Key_Return);
        QVERIFY(form.NewPolozka->text().isEmpty());
        QVERIFY(form.NewPoznamka->text().isEmpty());
        QCOMPARE(listedNames(form).size(), 2);
        // Clear disabled itself while it had the focus: the window keeps it.
        QVERIFY(!form.Clear->isEnabled());
        QCOMPARE(form.focusWidget(), static_cast<QWidget*>(&form));

        fillEntry(form);
        form.Write->setFocus();
        // Drawn as the default button, Write still takes only a plain Enter.
        press(form, Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(listedNames(form).size(), 2);
        press(form, Qt::Key_Return);
        QCOMPARE(listedNames(form).size(), 3);
        QCOMPARE(form.focusWidget(), form.NewPolozka);
    }

    void enterThatNoButtonTakesReachesTheControl() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        form.NewPolozka->setFocus();
        typeText(form, QStringLiteral("Len meno"));
        QVERIFY(!form.Write->isEnabled());
        press(form, Qt::Key_Return);
        QCOMPARE(form.focusWidget(), form.NewPoznamka);
    }

    void escapePressesClearWhereverTheFocusIs() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        fillEntry(form);
        form.Zoradit->setFocus();
        press(form, Qt::Key_Escape, Qt::ShiftModifier);
        QCOMPARE(form.NewPolozka->text(), QStringLiteral("Bicykel"));
        press(form, Qt::Key_Escape);
        QVERIFY(form.NewPolozka->text().isEmpty());
        QVERIFY(form.NewPoznamka->text().isEmpty());
        QVERIFY(!form.Clear->isEnabled());
        QCOMPARE(form.focusWidget(), form.Zoradit);
        // With Clear disabled, Escape is only a key.
        press(form, Qt::Key_Escape);
        QVERIFY(form.Zoradit->isChecked());
        QVERIFY(window_->boxes().shown.isEmpty());
    }

    void labelAcceleratorsFocusTheirControls() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        form.NewPolozka->setText(QStringLiteral("celý text"));
        form.NewPolozka->setCursorPosition(2);
        form.Clear->setFocus();
        QCOMPARE(form.focusWidget(), form.Clear);

        press(form, Qt::Key_N, Qt::AltModifier);
        QCOMPARE(form.focusWidget(), form.NewPolozka);
        QCOMPARE(form.NewPolozka->selectedText(), QStringLiteral("celý text"));
        // The edit that has the focus already does not receive it again: the
        // caret stays where it is.
        form.NewPolozka->setCursorPosition(2);
        press(form, Qt::Key_N, Qt::AltModifier);
        QCOMPARE(form.focusWidget(), form.NewPolozka);
        QVERIFY(!form.NewPolozka->hasSelectedText());
        QCOMPARE(form.NewPolozka->cursorPosition(), 2);

        // "&Umiestnenie:" and "Zmazať &umiestnenie" share the U: the label wins.
        const bool delPlaceBox = form.DelPlaceBox->isChecked();
        press(form, Qt::Key_U, Qt::AltModifier);
        QCOMPARE(form.focusWidget(), form.NewPoznamka);
        form.Zoradit->setFocus();
        press(form, Qt::Key_U);
        QCOMPARE(form.focusWidget(), form.NewPoznamka);
        QCOMPARE(form.DelPlaceBox->isChecked(), delPlaceBox);

        press(form, Qt::Key_Z, Qt::AltModifier | Qt::ShiftModifier);
        QCOMPARE(form.focusWidget(), form.Zoznam);
    }

    void buttonAcceleratorsPressAtOnceWithoutMovingTheFocus() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        fillEntry(form);
        form.Zoznam->setFocus();
        press(form, Qt::Key_V, Qt::AltModifier);
        QVERIFY(form.NewPolozka->text().isEmpty());
        QCOMPARE(form.focusWidget(), form.Zoznam);

        // A disabled button's letter does nothing.
        press(form, Qt::Key_A, Qt::AltModifier);
        QCOMPARE(listedNames(form).size(), 2);
        // Nor does it, or a letter no control has, type into an edit.
        form.NewPolozka->setFocus();
        typeText(form, QStringLiteral("Zz"));
        for (Qt::Key key : {Qt::Key_A, Qt::Key_Q})
            press(form, key, Qt::AltModifier);
        QCOMPARE(form.NewPolozka->text(), QStringLiteral("Zz"));
        press(form, Qt::Key_V, Qt::AltModifier);
        QVERIFY(form.NewPolozka->text().isEmpty());
        form.Polozka->setFocus();
        for (Qt::Key key : {Qt::Key_V, Qt::Key_A, Qt::Key_Q})
            press(form, key, Qt::AltModifier | Qt::ShiftModifier);
        QCOMPARE(form.Polozka->text(), QStringLiteral("Auto"));

        fillEntry(form);
        form.Zoznam->setFocus();
        press(form, Qt::Key_A, Qt::AltModifier);
        QCOMPARE(listedNames(form), QStringList({"Auto", "Bicykel", "Dom"}));
        // WriteClick ends in the name edit.
        QCOMPARE(form.focusWidget(), form.NewPolozka);
    }

    void checkBoxAcceleratorsFocusToggleAndRunTheHandler() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        QCOMPARE(listedNames(form), QStringList({"Auto", "Dom"}));

        press(form, Qt::Key_O, Qt::AltModifier);
        QVERIFY(!form.Zoradit->isChecked());
        QCOMPARE(form.focusWidget(), form.Zoradit);
        QCOMPARE(listedNames(form), QStringList({"Dom", "Auto"}));

        // Twice in quick succession: each press counts, at once.
        press(form, Qt::Key_O, Qt::AltModifier);
        press(form, Qt::Key_O, Qt::AltModifier);
        QVERIFY(!form.Zoradit->isChecked());
        QCOMPARE(listedNames(form), QStringList({"Dom", "Auto"}));

        // The bare letter works while a check box has the focus.
        press(form, Qt::Key_O);
        QVERIFY(form.Zoradit->isChecked());
        QCOMPARE(listedNames(form), QStringList({"Auto", "Dom"}));

        // DelExtClick sends the focus on to the name edit.
        press(form, Qt::Key_M, Qt::AltModifier);
        QVERIFY(!form.DelExt->isChecked());
        QCOMPARE(form.focusWidget(), form.NewPolozka);
    }

    void bareLettersAreTextOutsideButtons() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        form.NewPolozka->setFocus();
        typeText(form, QStringLiteral("on"));
        QCOMPARE(form.NewPolozka->text(), QStringLiteral("on"));
        QVERIFY(form.Zoradit->isChecked());
        QCOMPARE(form.focusWidget(), form.NewPolozka);

        form.Zoznam->setFocus();
        typeText(form, QStringLiteral("d"));
        QCOMPARE(form.Polozka->text(), QStringLiteral("Dom"));
        QCOMPARE(form.focusWidget(), form.Zoznam);
    }

    void tabSelectsAnEditsTextAndAClickPlacesTheCaret() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        form.NewPoznamka->setText(QStringLiteral("Pivnica"));
        form.NewPolozka->setFocus();
        press(form, Qt::Key_Tab);
        QCOMPARE(form.focusWidget(), form.NewPoznamka);
        QCOMPARE(form.NewPoznamka->selectedText(), QStringLiteral("Pivnica"));

        form.Zoznam->setFocus();
        QTest::mouseClick(form.NewPoznamka, Qt::LeftButton, Qt::NoModifier, QPoint(6, 10));
        QCOMPARE(form.focusWidget(), form.NewPoznamka);
        QVERIFY(!form.NewPoznamka->hasSelectedText());
    }
};

QTEST_MAIN(Keyboard)
#include "tst_keyboard.moc"
