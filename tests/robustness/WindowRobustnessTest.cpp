// The window under faults, long random use and hostile input.
//
// VRINDEL_MODEL_ACTIONS and VRINDEL_MODEL_SEED set the length and the seed
// of the random run (a short run with a fixed seed by default); an empty
// seed picks a new one, printed so that a failure can be replayed.

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <cstdio>

#include "records/Catalogue.h"
#include "store/format/CatalogueFiles.h"
#include "WindowKit.h"
#include "WindowTests.h"

using namespace kit;

namespace {

constexpr long DefaultActions = 10000;
constexpr std::uint64_t DefaultSeed = 20240607;

// A key held down: the first press, the keyboard's repeats, one release.
void holdKey(TMainForm& form, Qt::Key key, int repeats, const QString& text = {}) {
    for (int i = 0; i <= repeats; ++i) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text, i > 0);
        QApplication::sendEvent(focused(form), &down);
    }
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(focused(form), &up);
}

QString cycled(const QString& pattern, int length) {
    QString out;
    while (out.size() < length)
        out += pattern;
    return out.left(length);
}

bool aligned(const TMainForm& form) {
    const vrindel::Catalogue& c = form.catalogue();
    return c.storageCount() == c.displayCount() && c.storageCount() == c.recordCount();
}

}  // namespace

class WindowRobustness : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void closeFaults();
    void startUpFaults();
    void randomModel();

    void pasteOfAThousandCharacters();
    void controlCharacters();
    void textOutsideWindows1250();
    void keysHeldDown();

private:
    int faultCases_ = 0;
    bool clipboard_ = false;
};

void WindowRobustness::initTestCase() {
    QGuiApplication::clipboard()->setText(QStringLiteral("probe"));
    clipboard_ = QGuiApplication::clipboard()->text() == u"probe";
}

void WindowRobustness::cleanupTestCase() {
    if (faultCases_ > 0)
        std::printf("Window fault cases tried: %d\n", faultCases_);
}

void WindowRobustness::closeFaults() {
    int cases = 0;
    runWindowCloseFaults(cases);
    faultCases_ += cases;
    std::printf("Window close fault cases: %d\n", cases);
}

void WindowRobustness::startUpFaults() {
    int cases = 0;
    runWindowStartUpFaults(cases);
    faultCases_ += cases;
    std::printf("Window start-up fault cases: %d\n", cases);
}

void WindowRobustness::randomModel() {
    long actions = DefaultActions;
    ModelFigures figures;
    figures.seed = DefaultSeed;
    if (qEnvironmentVariableIsSet("VRINDEL_MODEL_ACTIONS"))
        actions = qEnvironmentVariable("VRINDEL_MODEL_ACTIONS").toLong();
    if (qEnvironmentVariableIsSet("VRINDEL_MODEL_SEED")) {
        bool ok = false;
        figures.seed = qEnvironmentVariable("VRINDEL_MODEL_SEED").toULongLong(&ok);
        if (!ok)
            figures.seed = std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    std::printf("Random model: %ld actions from seed %llu\n", actions, static_cast<unsigned long long>(figures.seed));
    std::fflush(stdout);
    runRandomModel(actions, figures);
    std::printf("Random model: %ld actions (%ld adds, %ld deletes, %ld renames, %ld sort switches, %ld reopens, "
                "%ld adds refused for a listed name), records lost: %ld\n",
                figures.actions, figures.added, figures.deleted, figures.renamed, figures.sortSwitches, figures.reopens,
                figures.refusedAdds, figures.recordsLost);
}

void WindowRobustness::pasteOfAThousandCharacters() {
    if (!clipboard_)
        QSKIP("this platform has no clipboard to paste from");
    ScratchDir folder;
    writeFile(vrindel::ListFileName, catalogueBytes({{QStringLiteral("Prvý"), QStringLiteral("CD 1")}}));
    writeFile(vrindel::OptionsFileName, optionsBytes(true, false, true));
    RecordingBoxes boxes;
    auto form = openWindow(boxes);

    const QString name = cycled(QStringLiteral("Názov čísla "), 1000);
    const QString location = cycled(QStringLiteral("Polica ž-"), 1000);
    press(*form, Qt::Key_N, Qt::AltModifier);
    paste(*form, name);
    QCOMPARE(ui(*form).NewPolozka->text(), name.left(31));
    press(*form, Qt::Key_U, Qt::AltModifier);
    paste(*form, location);
    QCOMPARE(ui(*form).NewPoznamka->text(), location.left(31));
    QVERIFY(ui(*form).Write->isEnabled());
    press(*form, Qt::Key_Return);

    // The record's name, pasted over in the selected record's edit, renames it.
    const QString other = cycled(QStringLiteral("Iný názov "), 1000);
    tabInto(ui(*form).Polozka);
    press(*form, Qt::Key_A, Qt::ControlModifier);
    paste(*form, other);
    QCOMPARE(ui(*form).Polozka->text(), other.left(31));
    press(*form, Qt::Key_Return, Qt::ShiftModifier);

    QVERIFY(boxes.shown.isEmpty());
    QVERIFY(aligned(*form));
    const QList<Record> expected = {{QStringLiteral("Prvý"), QStringLiteral("CD 1")}, {other.left(31), location.left(31)}};
    QCOMPARE(storedRecords(*form), expected);
    QVERIFY(form->close());
    QVERIFY(fileBytes(vrindel::ListFileName) == catalogueBytes(expected));
}

void WindowRobustness::controlCharacters() {
    if (!clipboard_)
        QSKIP("this platform has no clipboard to paste from");
    ScratchDir folder;
    // A file written by other means holds control characters and line breaks.
    const QList<Record> odd = {{QStringLiteral("a\x01\x02\tb\r\nc") + QChar(u'\0') + QStringLiteral("d\x1f\x7f\u0081e"),
                                QStringLiteral("\x03\x04 police\x1e")}};
    writeFile(vrindel::ListFileName, catalogueBytes(odd));
    writeFile(vrindel::OptionsFileName, optionsBytes(true, false, true));
    RecordingBoxes boxes;
    auto form = openWindow(boxes);
    QCOMPARE(ui(*form).Polozka->text(), odd[0].first);
    QCOMPARE(ui(*form).Poznamka->text(), odd[0].second);

    // Control characters typed are no text; a paste holding one is refused
    // whole, and of one holding line breaks the first line is taken.
    press(*form, Qt::Key_N, Qt::AltModifier);
    for (char16_t c : {u'\x01', u'\x07', u'\x08', u'\x1b', u'\x7f', u'\t'})
        typeChar(*form, QChar(c));
    QCOMPARE(ui(*form).NewPolozka->text(), QString());
    paste(*form, odd[0].first);
    QCOMPARE(ui(*form).NewPolozka->text(), QString());
    paste(*form, QStringLiteral("meno\r\n\x01"));
    QCOMPARE(ui(*form).NewPolozka->text(), QStringLiteral("meno"));
    press(*form, Qt::Key_U, Qt::AltModifier);
    paste(*form, odd[0].second);
    QCOMPARE(ui(*form).NewPoznamka->text(), QString());
    paste(*form, QStringLiteral("police\n"));
    QVERIFY(ui(*form).Write->isEnabled());
    press(*form, Qt::Key_Return);
    QVERIFY(boxes.shown.isEmpty());
    const QList<Record> all = odd + QList<Record>{{QStringLiteral("meno"), QStringLiteral("police")}};
    QCOMPARE(storedRecords(*form), all);

    // Sorting on and off and a close and reopen keep the odd record whole.
    press(*form, Qt::Key_O, Qt::AltModifier);
    press(*form, Qt::Key_O, Qt::AltModifier);
    QVERIFY(form->close());
    form.reset();
    QVERIFY(fileBytes(vrindel::ListFileName) == catalogueBytes(all));
    form = openWindow(boxes);
    QVERIFY(boxes.shown.isEmpty());
    QCOMPARE(storedRecords(*form), all);
    QVERIFY(form->close());
}

void WindowRobustness::textOutsideWindows1250() {
    if (!clipboard_)
        QSKIP("this platform has no clipboard to paste from");
    ScratchDir folder;
    writeFile(vrindel::ListFileName, catalogueBytes({{QStringLiteral("Kniha"), QStringLiteral("Polica")}}));
    writeFile(vrindel::OptionsFileName, optionsBytes(true, false, true));
    RecordingBoxes boxes;
    auto form = openWindow(boxes);

    press(*form, Qt::Key_N, Qt::AltModifier);
    typeChars(*form, QStringLiteral("abc"));
    // Each is refused whole: typed or pasted, the edit keeps what it had.
    const QString foreign[] = {QStringLiteral("日本語"), QStringLiteral("😀"),   QStringLiteral("Привет"),
                               QStringLiteral("x€y日"),  QString(QChar(0xD800)), QStringLiteral("\u2603 snow"),
                               QStringLiteral("\u0085")};
    for (const QString& text : foreign) {
        paste(*form, text);
        QCOMPARE(ui(*form).NewPolozka->text(), QStringLiteral("abc"));
    }
    // Typed, every character the file cannot hold is refused on its own.
    for (const QString& text : foreign)
        for (QChar c : text)
            typeChar(*form, c);
    QCOMPARE(ui(*form).NewPolozka->text(), QStringLiteral("abcx€y snow"));
    // A letter with a combining accent is the accented letter the file holds.
    press(*form, Qt::Key_A, Qt::ControlModifier);
    paste(*form, QStringLiteral("c\u030Cierna"));
    QCOMPARE(ui(*form).NewPolozka->text(), QStringLiteral("čierna"));

    // In the selected record's edit too; a refused name renames nothing.
    tabInto(ui(*form).Polozka);
    press(*form, Qt::Key_A, Qt::ControlModifier);
    paste(*form, QStringLiteral("書"));
    QCOMPARE(ui(*form).Polozka->text(), QStringLiteral("Kniha"));
    press(*form, Qt::Key_Return, Qt::ShiftModifier);
    QVERIFY(boxes.shown.isEmpty());
    QCOMPARE(storedRecords(*form), (QList<Record>{{QStringLiteral("Kniha"), QStringLiteral("Polica")}}));
    QVERIFY(form->close());
}

void WindowRobustness::keysHeldDown() {
    ScratchDir folder;
    QList<Record> many;
    for (int i = 0; i < 300; ++i)
        many.append({QStringLiteral("Záznam %1").arg(i, 3, 10, QChar(u'0')), QStringLiteral("Miesto %1").arg(i % 7)});
    writeFile(vrindel::ListFileName, catalogueBytes(many));
    writeFile(vrindel::OptionsFileName, optionsBytes(true, false, true));
    RecordingBoxes boxes;
    auto form = openWindow(boxes);

    // A letter held in an edit stops at 31; Backspace held empties it.
    press(*form, Qt::Key_N, Qt::AltModifier);
    holdKey(*form, Qt::Key_X, 5000, QStringLiteral("x"));
    QCOMPARE(ui(*form).NewPolozka->text(), QString(31, u'x'));
    holdKey(*form, Qt::Key_Backspace, 5000);
    QCOMPARE(ui(*form).NewPolozka->text(), QString());
    QVERIFY(!ui(*form).Clear->isEnabled());

    // Enter held on a complete new record adds it once.
    typeChars(*form, QStringLiteral("Nový"));
    press(*form, Qt::Key_U, Qt::AltModifier);
    typeChars(*form, QStringLiteral("Polica"));
    holdKey(*form, Qt::Key_Return, 3000);
    QCOMPARE(form->catalogue().recordCount(), 301);

    // Down held walks to the last record and stays there.
    press(*form, Qt::Key_Z, Qt::AltModifier);
    holdKey(*form, Qt::Key_Down, 5000);
    QCOMPARE(form->catalogue().selection(), 300);
    QCOMPARE(ui(*form).Status->panelText(1), QStringLiteral("301 / 301"));

    // Delete held empties the list and then does nothing.
    holdKey(*form, Qt::Key_Delete, 5000);
    QVERIFY(aligned(*form));
    QCOMPARE(form->catalogue().recordCount(), 0);
    QCOMPARE(ui(*form).Status->panelText(0), QStringLiteral(" Počet záznamov: 0"));
    QCOMPARE(ui(*form).Status->panelText(1), QStringLiteral("0 / 0"));
    QCOMPARE(ui(*form).Polozka->text(), QString());
    QVERIFY(boxes.shown.isEmpty());
    QVERIFY(form->close());
    QVERIFY(fileBytes(vrindel::ListFileName) == QByteArray());
}

QTEST_MAIN(WindowRobustness)
#include "WindowRobustnessTest.moc"
