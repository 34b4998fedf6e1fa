// Adding records: extension stripping while a name is typed, the enabled
// states of Write and Clear, the keyboard flows of entry, and the refusal
// of characters a record text cannot hold.

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolTip>

#include <memory>

#include "AppTestSupport.h"
#include "MainUnit.h"

class Adding : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowUnderTest> window_;

    // Pastes into the focused edit; returns what the edit then says about
    // it, or nothing.
    static QString paste(TMainForm& form, const QString& text) {
        // A tip still up from before would be taken for one about this paste.
        const QString before = QStringLiteral("(before the paste)");
        QToolTip::showText(form.mapToGlobal(QPoint()), before, &form);
        QApplication::clipboard()->setText(text);
        press(form, Qt::Key_V, Qt::ControlModifier);
        return QToolTip::isVisible() && QToolTip::text() != before ? QToolTip::text() : QString();
    }

    TMainForm& open(bool delPlaceBox = true, bool delExt = true, const QList<Record>& records = {}) {
        return window_->open(records, true, delPlaceBox, delExt);
    }

private slots:
    void init() {
        window_ = std::make_unique<WindowUnderTest>();
        QVERIFY(window_->isValid());
    }
    void cleanup() { window_.reset(); }

    void extensionsAreStrippedAsTheNameIsTyped_data() {
        QTest::addColumn<bool>("delExt");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("left");
        QTest::newRow("Setup.exe") << true << "Setup.exe" << "Setup";
        QTest::newRow("Setup.EXE stays") << true << "Setup.EXE" << "Setup.EXE";
        QTest::newRow("Setup.Exe stays") << true << "Setup.Exe" << "Setup.Exe";
        QTest::newRow("Setup.ZIP") << true << "Setup.ZIP" << "Setup";
        QTest::newRow("Setup.Zip") << true << "Setup.Zip" << "Setup";
        QTest::newRow("Setup.rar") << true << "Setup.rar" << "Setup";
        QTest::newRow("Setup.RAR stays") << true << "Setup.RAR" << "Setup.RAR";
        QTest::newRow("typing goes on after a strip") << true << "a.zipb.rarc" << "abc";
        QTest::newRow(".zip alone") << true << ".zip" << "";
        QTest::newRow("zip without the dot") << true << "zip" << "zip";
        QTest::newRow("DelExt off") << false << "Setup.exe" << "Setup.exe";
        QTest::newRow("DelExt off, zip") << false << "a.zip.rar" << "a.zip.rar";
    }
    void extensionsAreStrippedAsTheNameIsTyped() {
        QFETCH(bool, delExt);
        QFETCH(QString, typed);
        QFETCH(QString, left);
        TMainForm& form = open(true, delExt);
        QVERIFY(showWindow(form));
        ui(form).NewPolozka->setFocus();
        typeText(form, typed);
        QCOMPARE(ui(form).NewPolozka->text(), left);
        QCOMPARE(ui(form).NewPolozka->cursorPosition(), int(left.size()));
        QVERIFY(!ui(form).NewPolozka->hasSelectedText());
        QCOMPARE(ui(form).Clear->isEnabled(), !left.isEmpty());
        QVERIFY(!ui(form).Write->isEnabled());
    }

    void aPastedNameLosesEveryTrailingExtension() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        ui(form).NewPolozka->setFocus();
        QApplication::clipboard()->setText(QStringLiteral("a.zip.rar"));
        press(form, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("a"));
        QCOMPARE(ui(form).NewPolozka->cursorPosition(), 1);
    }

    void switchingStrippingOnWaitsForTheNextChange() {
        TMainForm& form = open(true, false);
        QVERIFY(showWindow(form));
        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("Hra.zip"));
        ui(form).DelExt->click();
        QVERIFY(ui(form).DelExt->isChecked());
        QCOMPARE(form.focusWidget(), ui(form).NewPolozka);
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Hra.zip"));
        // A change of the other edit strips it.
        ui(form).NewPoznamka->setFocus();
        typeText(form, QStringLiteral("D"));
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Hra"));
        QVERIFY(ui(form).Write->isEnabled());
    }

    void writeAndClearFollowTheEdits() {
        TMainForm& form = open(true, true, {{"Kniha", "Polica"}, {QStringLiteral("Hra…"), "Disk"}});
        QVERIFY(showWindow(form));
        QVERIFY(!ui(form).Write->isEnabled());
        QVERIFY(!ui(form).Clear->isEnabled());

        ui(form).NewPoznamka->setFocus();
        typeText(form, QStringLiteral("Skriňa"));
        QVERIFY(ui(form).Clear->isEnabled());
        QVERIFY(!ui(form).Write->isEnabled());

        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("KNIH"));
        QVERIFY(ui(form).Write->isEnabled());
        // Listed already, in another letter case.
        typeText(form, QStringLiteral("A"));
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("KNIHA"));
        QVERIFY(!ui(form).Write->isEnabled());
        QVERIFY(ui(form).Clear->isEnabled());
        // Accents count: "Kniha" is not "Kníha".
        ui(form).NewPolozka->selectAll();
        typeText(form, QStringLiteral("Kníha"));
        QVERIFY(ui(form).Write->isEnabled());
        // Only letter case is ignored: "Hra..." is not "Hra…", "HRA…" is.
        ui(form).NewPolozka->selectAll();
        typeText(form, QStringLiteral("HRA…"));
        QVERIFY(!ui(form).Write->isEnabled());
        ui(form).NewPolozka->selectAll();
        typeText(form, QStringLiteral("Hra..."));
        QVERIFY(ui(form).Write->isEnabled());

        ui(form).NewPolozka->selectAll();
        press(form, Qt::Key_Delete);
        QVERIFY(!ui(form).Write->isEnabled());
        QVERIFY(ui(form).Clear->isEnabled());
        ui(form).NewPoznamka->setFocus();
        ui(form).NewPoznamka->selectAll();
        press(form, Qt::Key_Backspace);
        QVERIFY(!ui(form).Clear->isEnabled());
        QVERIFY(!ui(form).Write->isEnabled());
    }

    void keyboardFlowWithTheLocationCleared() {
        TMainForm& form = open(true);
        QVERIFY(showWindow(form));
        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("Alfa"));
        press(form, Qt::Key_Return);
        QCOMPARE(form.focusWidget(), ui(form).NewPoznamka);
        typeText(form, QStringLiteral("CD 1"));
        press(form, Qt::Key_Return);

        QCOMPARE(listedNames(form), QStringList{"Alfa"});
        QCOMPARE(selectedName(form), QStringLiteral("Alfa"));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Alfa"));
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("CD 1"));
        QCOMPARE(ui(form).Status->panelText(0), QStringLiteral(" Počet záznamov: 1"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("1 / 1"));
        QVERIFY(ui(form).NewPolozka->text().isEmpty());
        QVERIFY(ui(form).NewPoznamka->text().isEmpty());
        QVERIFY(!ui(form).Write->isEnabled());
        QVERIFY(!ui(form).Clear->isEnabled());
        QCOMPARE(form.focusWidget(), ui(form).NewPolozka);
    }

    void keyboardFlowWithTheLocationKept() {
        TMainForm& form = open(false);
        QVERIFY(showWindow(form));
        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("Alfa"));
        press(form, Qt::Key_Return);
        typeText(form, QStringLiteral("CD 1"));
        press(form, Qt::Key_Return);

        QCOMPARE(ui(form).NewPoznamka->text(), QStringLiteral("CD 1"));
        QVERIFY(ui(form).NewPolozka->text().isEmpty());
        QCOMPARE(form.focusWidget(), ui(form).NewPolozka);
        QVERIFY(ui(form).Clear->isEnabled());
        QVERIFY(!ui(form).Write->isEnabled());

        // The next name and Enter add at once, with the same location.
        typeText(form, QStringLiteral("Beta.exe"));
        press(form, Qt::Key_Return);
        QCOMPARE(listedNames(form), QStringList({"Alfa", "Beta"}));
        QCOMPARE(ui(form).Polozka->text(), QStringLiteral("Beta"));
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("CD 1"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("2 / 2"));
        QCOMPARE(form.focusWidget(), ui(form).NewPolozka);

        // A name already listed is not added; Enter goes on to the location.
        typeText(form, QStringLiteral("alfa"));
        press(form, Qt::Key_Return);
        QCOMPARE(listedNames(form).size(), 2);
        QCOMPARE(form.focusWidget(), ui(form).NewPoznamka);
        QCOMPARE(ui(form).NewPoznamka->selectedText(), QStringLiteral("CD 1"));

        // Escape empties both edits from anywhere.
        ui(form).Zoznam->setFocus();
        press(form, Qt::Key_Escape);
        QVERIFY(ui(form).NewPolozka->text().isEmpty());
        QVERIFY(ui(form).NewPoznamka->text().isEmpty());
        QVERIFY(!ui(form).Clear->isEnabled());

        QVERIFY(form.close());
        QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))),
                 QList<Record>({{"Alfa", "CD 1"}, {"Beta", "CD 1"}}));
        QVERIFY(window_->boxes().shown.isEmpty());
    }

    void charactersOutsideWindows1250AreRefused() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        ui(form).NewPolozka->setFocus();
        // Slovak, Czech, Polish and Hungarian letters and the euro sign fit.
        typeText(form, QStringLiteral("Žľťčřőł€"));
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Žľťčřőł€"));
        // Cyrillic, Greek, an arrow and a letter of Windows-1252 only do not.
        typeText(form, QStringLiteral("жΩ→ñ"));
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Žľťčřőł€"));

        // A paste holding one such character is refused whole, and says so.
        ui(form).NewPolozka->clear();
        QCOMPARE(paste(form, QStringLiteral("Disk ж 1")),
                 QStringLiteral("Text obsahuje znaky, ktoré sa do zoznamu nedajú uložiť („ж“), preto sa nevložil."));
        QVERIFY(ui(form).NewPolozka->text().isEmpty());
        QCOMPARE(paste(form, QStringLiteral("Disk 1")), QString());
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Disk 1"));

        // A letter with a combining accent is the accented letter.
        ui(form).NewPolozka->clear();
        QApplication::clipboard()->setText(QStringLiteral("Ca\u0301r"));
        press(form, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Cár"));

        for (QLineEdit* edit : {ui(form).NewPoznamka, ui(form).Polozka}) {
            edit->setFocus();
            edit->clear();
            typeText(form, QStringLiteral("aж€"));
            QCOMPARE(edit->text(), QStringLiteral("a€"));
        }
    }

    void theLimitIs31StoredCharacters() {
        TMainForm& form = open();
        QVERIFY(showWindow(form));
        ui(form).NewPolozka->setFocus();
        const QString accented = QString(20, QChar(u'č')) + QString(15, QChar(u'a'));
        typeText(form, accented);
        QCOMPARE(ui(form).NewPolozka->text(), accented.left(31));
        ui(form).NewPoznamka->setFocus();
        QCOMPARE(paste(form, QString(40, QChar(u'ž'))), QStringLiteral("Zmestí sa najviac 31 znakov, zvyšok sa nevložil."));
        QCOMPARE(ui(form).NewPoznamka->text(), QString(31, QChar(u'ž')));
        press(form, Qt::Key_Return);
        QCOMPARE(listedNames(form), QStringList{accented.left(31)});

        // Letters with combining accents count once composed: sixteen or
        // twenty "c" + caron are as many "č", and a paste into the middle is
        // cut, not the text after it.
        const QString caron = QStringLiteral("c\u030C");
        QCOMPARE(paste(form, caron.repeated(16)), QString());
        QCOMPARE(ui(form).NewPolozka->text(), QString(16, QChar(u'č')));
        ui(form).NewPolozka->clear();
        QCOMPARE(paste(form, caron.repeated(20)), QString());
        QCOMPARE(ui(form).NewPolozka->text(), QString(20, QChar(u'č')));
        ui(form).NewPolozka->setCursorPosition(10);
        QVERIFY(!paste(form, caron.repeated(20)).isEmpty());
        QCOMPARE(ui(form).NewPolozka->text(), QString(31, QChar(u'č')));
        ui(form).NewPolozka->setText(QString(30, QChar(u'a')));
        QCOMPARE(paste(form, caron), QString());
        QCOMPARE(ui(form).NewPolozka->text(), QString(30, QChar(u'a')) + QChar(u'č'));
        // A full edit takes no more, typed or pasted, and says why.
        ui(form).NewPolozka->setCursorPosition(5);
        QCOMPARE(paste(form, QStringLiteral("x")), QStringLiteral("Zmestí sa najviac 31 znakov."));
        typeText(form, QStringLiteral("x"));
        QCOMPARE(ui(form).NewPolozka->text(), QString(30, QChar(u'a')) + QChar(u'č'));

        // What the cut drops is not held against what it keeps: a paste whose
        // 32nd character the file could not store, or a control character
        // there, still gives its first 31.
        for (const QString& beyond : {QStringLiteral("ø"), QStringLiteral("\t"), QStringLiteral("жΩ")}) {
            ui(form).NewPoznamka->setFocus();
            ui(form).NewPoznamka->clear();
            QCOMPARE(paste(form, QString(31, QChar(u'A')) + beyond),
                     QStringLiteral("Zmestí sa najviac 31 znakov, zvyšok sa nevložil."));
            QCOMPARE(ui(form).NewPoznamka->text(), QString(31, QChar(u'A')));
            // One that the cut keeps still refuses the paste whole.
            ui(form).NewPoznamka->clear();
            QVERIFY(paste(form, QString(30, QChar(u'A')) + beyond).contains(QStringLiteral("preto sa nevložil")));
            QVERIFY(ui(form).NewPoznamka->text().isEmpty());
        }

        // So does the selected record's name.
        ui(form).Polozka->setFocus();
        ui(form).Polozka->selectAll();
        QVERIFY(!paste(form, QString(40, QChar(u'é'))).isEmpty());
        QCOMPARE(ui(form).Polozka->text(), QString(31, QChar(u'é')));

        QVERIFY(form.close());
        QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))),
                 QList<Record>({{accented.left(31), QString(31, QChar(u'ž'))}}));
    }

    void aPasteIsOneLineWithoutControlCharacters() {
        // A file written by other means may hold line breaks and control
        // characters: shown as they are, and saved back unchanged.
        const QString odd = QStringLiteral("dva\nriadky\x01");
        TMainForm& form = open(true, true, {{odd, QStringLiteral("tab\there")}});
        QVERIFY(showWindow(form));
        QCOMPARE(ui(form).Polozka->text(), odd);
        QCOMPARE(ui(form).Poznamka->text(), QStringLiteral("tab\there"));

        ui(form).NewPolozka->setFocus();
        QCOMPARE(paste(form, QStringLiteral("Golf\nIný riadok")), QStringLiteral("Vložil sa len prvý riadok textu."));
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Golf"));
        QCOMPARE(paste(form, QStringLiteral(" klub\r\n")), QStringLiteral("Vložil sa len prvý riadok textu."));
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Golf klub"));
        const QString refused = QStringLiteral("Text obsahuje riadiace znaky, preto sa nevložil.");
        for (const QString& text : {QStringLiteral("a\tb"), QStringLiteral("\x1b[0m"), QStringLiteral("x\u0085"),
                                    QStringLiteral("\x7f")}) {
            QCOMPARE(paste(form, text), refused);
            QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Golf klub"));
        }
        // Typed through an input method, one arrives as a commit.
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("\x02"));
        QApplication::sendEvent(ui(form).NewPolozka, &commit);
        QCOMPARE(ui(form).NewPolozka->text(), QStringLiteral("Golf klub"));

        // The odd record can be edited like any other.
        ui(form).Polozka->setFocus();
        ui(form).Polozka->setCursorPosition(int(odd.size()));
        typeText(form, QStringLiteral("X"));
        QCOMPARE(ui(form).Polozka->text(), odd + u'X');
        QVERIFY(form.close());
        QCOMPARE(readFile(QStringLiteral("Zoznam.dat")), catalogueBytes({{odd, QStringLiteral("tab\there")}}));
    }
};

QTEST_MAIN(Adding)
#include "tst_adding.moc"
