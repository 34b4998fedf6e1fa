// Start-up and close: what the window reads, shows and writes, and how it
// behaves when a file cannot be read or written.

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSet>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>
#include <memory>

#include "AppTestSupport.h"
#include "FaultyFileSystem.h"
#include "store/format/FileLayer.h"
#include "store/CatalogueStore.h"
#include "MainUnit.h"
#include "OpenWindow.h"
#include "SessionEnd.h"

using Call = vrindel::FileSystem::Call;

namespace {

const QString UnreadQuestion = QStringLiteral("Súbor so zoznamom sa nepodarilo prečítať, zmeny sa neuložia. Zavrieť program?");
const QString SaveFailedQuestion = QStringLiteral("Zoznam sa nepodarilo uložiť. Zavrieť program bez uloženia?");
const QString OptionsFailedQuestion =
    QStringLiteral("Nastavenia (Options.dat) sa nepodarilo uložiť. Zavrieť program bez uloženia?");

void addRecord(TMainForm& form, const QString& name, const QString& location) {
    ui(form).NewPolozka->setFocus();
    typeText(form, name);
    press(form, Qt::Key_Return);
    typeText(form, location);
    press(form, Qt::Key_Return);
}

// The opens a window makes before it reads its files: opening the
// catalogue (its lock, a journal, stale temporary files) comes first.
int opensBeforeReading() {
    vrindel::FaultyFileSystem fs;
    vrindel::CatalogueStore store({}, fs);
    store.open();
    return fs.calls(vrindel::FileSystem::Call::Open);
}

// Standard error, caught for as long as the object lives.
class CapturedStderr {
public:
    CapturedStderr() : file_(std::tmpfile()), saved_(::dup(2)) {
        std::fflush(stderr);
        ::dup2(::fileno(file_), 2);
    }
    ~CapturedStderr() {
        restore();
        std::fclose(file_);
    }
    QString text() {
        restore();
        std::rewind(file_);
        QByteArray bytes;
        char buffer[512];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, file_))
            bytes.append(buffer, qsizetype(n));
        return QString::fromLocal8Bit(bytes);
    }

private:
    void restore() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, 2);
            ::close(saved_);
            saved_ = -1;
        }
    }
    std::FILE* file_;
    int saved_;
};

}  // namespace

class StartupClose : public QObject {
    Q_OBJECT

    std::unique_ptr<ScratchDir> dir_;

private slots:
    void init() {
        dir_ = std::make_unique<ScratchDir>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    void firstRunInEmptyDirectory() {
        RecordingBoxes boxes;
        TMainForm form(boxes);
        QVERIFY(showWindow(form));

        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].icon, MessageBoxes::Icon::Warning);
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("Vrindel"));
        QCOMPARE(boxes.shown[0].text, QStringLiteral("Súbor so zoznamom sa nenašiel!"));

        QVERIFY(QFile::exists(QStringLiteral("Zoznam.dat")));
        QCOMPARE(readFile(QStringLiteral("Zoznam.dat")).size(), 0);
        QCOMPARE(readFile(QStringLiteral("Options.dat")), QByteArray("\x01\x00\x01", 3));

        QVERIFY(ui(form).Zoradit->isChecked());
        QVERIFY(!ui(form).DelPlaceBox->isChecked());
        QVERIFY(ui(form).DelExt->isChecked());
        QVERIFY(form.catalogue().sorted());
        QCOMPARE(ui(form).Status->panelText(0), QStringLiteral(" Počet záznamov: 0"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("0 / 0"));
        QVERIFY(ui(form).Polozka->text().isEmpty());
        QVERIFY(ui(form).Poznamka->text().isEmpty());
        QVERIFY(!ui(form).Write->isEnabled());
        QVERIFY(!ui(form).Clear->isEnabled());
        QCOMPARE(form.focusWidget(), ui(form).Zoznam);
    }

    void loadsInStoredSortMode_data() {
        QTest::addColumn<bool>("sorted");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("storage order") << false << QStringList{"Čučoriedky", "baza", "Auto", "čaj"};
        // Slovak order: č after c, accents count, case does not.
        QTest::newRow("name order") << true << QStringList{"Auto", "baza", "čaj", "Čučoriedky"};
    }
    void loadsInStoredSortMode() {
        QFETCH(bool, sorted);
        QFETCH(QStringList, expected);
        writeCatalogue({{"Čučoriedky", "Špajza"}, {"baza", "CD 1"}, {"Auto", "Garáž"}, {"čaj", "Kuchyňa"}});
        writeOptions(sorted, false, true);

        RecordingBoxes boxes;
        TMainForm form(boxes);
        QVERIFY(showWindow(form));

        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(listedNames(form), expected);
        QCOMPARE(form.catalogue().selection(), 0);
        QCOMPARE(selectedName(form), expected[0]);
        QCOMPARE(ui(form).Polozka->text(), expected[0]);
        QCOMPARE(ui(form).Poznamka->text(), sorted ? QStringLiteral("Garáž") : QStringLiteral("Špajza"));
        QCOMPARE(ui(form).Status->panelText(0), QStringLiteral(" Počet záznamov: 4"));
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("1 / 4"));
        QCOMPARE(ui(form).Zoradit->isChecked(), sorted);
    }

    void startUpFocusFollowsStripSwitch() {
        writeCatalogue({{"a", "b"}});
        {
            writeOptions(true, false, false);
            RecordingBoxes boxes;
            TMainForm form(boxes);
            // Switching DelExt off moved the focus to the entry edit; the
            // failed focusing of the hidden window showed nothing.
            QVERIFY(boxes.shown.isEmpty());
            QVERIFY(!ui(form).DelExt->isChecked());
            QVERIFY(showWindow(form));
            QCOMPARE(form.focusWidget(), ui(form).NewPolozka);
            QVERIFY(ui(form).NewPolozka->hasFocus());
        }
        {
            writeOptions(true, false, true);
            RecordingBoxes boxes;
            TMainForm form(boxes);
            QVERIFY(showWindow(form));
            QCOMPARE(form.focusWidget(), ui(form).Zoznam);
        }
    }

    void shortOptionsSetOnlyTheirSwitches() {
        writeCatalogue({});
        writeFile(QStringLiteral("Options.dat"), QByteArray("\x00", 1));
        RecordingBoxes boxes;
        TMainForm form(boxes);
        QVERIFY(boxes.shown.isEmpty());
        QVERIFY(!ui(form).Zoradit->isChecked());
        QVERIFY(!form.catalogue().sorted());
        QVERIFY(ui(form).DelPlaceBox->isChecked());
        QVERIFY(ui(form).DelExt->isChecked());
    }

    void closeWritesBothFilesAndKeepsAnUnchangedCatalogue() {
        const QByteArray original = catalogueBytes(
            {{"Zeta", "CD 3"}, {"alfa", "CD 1"}, {"Beta", ""}, {"", "prázdne meno"}, {"Žltý", "€ 5"}});
        writeFile(QStringLiteral("Zoznam.dat"), original);
        writeOptions(true, true, false);

        RecordingBoxes boxes;
        TMainForm form(boxes);
        QVERIFY(showWindow(form));
        // Browsing and switching the view change nothing that is stored.
        press(form, Qt::Key_Down);
        ui(form).Zoradit->click();
        QVERIFY(form.close());

        QVERIFY(boxes.shown.isEmpty());
        QVERIFY(!form.isVisible());
        QCOMPARE(readFile(QStringLiteral("Zoznam.dat")), original);
        QCOMPARE(readFile(QStringLiteral("Options.dat")), QByteArray("\x00\x01\x00", 3));
    }

    // The first close, even with no edit, saves the whole records, after
    // keeping the damaged file's bytes beside it; the next start finds a
    // sound catalogue.
    void damagedCatalogueKeepsWholeRecordsAndIsMendedAtTheFirstClose() {
        QByteArray bytes = catalogueBytes({{"Jeden", "CD 1"}, {"Dva", "CD 2"}});
        bytes.chop(32);  // three records: the second name has no location
        writeFile(QStringLiteral("Zoznam.dat"), bytes);
        writeOptions(false, false, true);

        RecordingBoxes boxes;
        {
            TMainForm form(boxes);
            QCOMPARE(boxes.shown.size(), 1);
            QCOMPARE(boxes.shown[0].icon, MessageBoxes::Icon::Error);
            QCOMPARE(boxes.shown[0].caption, QStringLiteral("Vrindel"));
            QCOMPARE(boxes.shown[0].text, QStringLiteral("Súbor so záznamami je poškodený!"));
            QCOMPARE(listedNames(form), QStringList{"Jeden"});
            QCOMPARE(ui(form).Status->panelText(0), QStringLiteral(" Počet záznamov: 1"));

            QVERIFY(showWindow(form));
            QVERIFY(form.close());
            QCOMPARE(readFile(QStringLiteral("Zoznam.dat")), catalogueBytes({{"Jeden", "CD 1"}}));
            const QStringList kept = QDir().entryList({QStringLiteral("Zoznam.dat.damaged-*")}, QDir::Files);
            QCOMPARE(kept.size(), 1);
            QCOMPARE(readFile(kept[0]), bytes);
        }
        TMainForm again(boxes);
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(showWindow(again));
        addRecord(again, QStringLiteral("Tri"), QStringLiteral("CD 3"));
        QVERIFY(again.close());
        QCOMPARE(readFile(QStringLiteral("Zoznam.dat")), catalogueBytes({{"Jeden", "CD 1"}, {"Tri", "CD 3"}}));
    }

    // Switches whose file another program removed while the window was
    // open come back at close, though none changed, as the catalogue does.
    void filesRemovedWhileOpenAreWrittenAtClose() {
        writeCatalogue({{"Jeden", "CD 1"}});
        writeOptions(false, true, false);
        RecordingBoxes boxes;
        TMainForm form(boxes);
        QVERIFY(showWindow(form));
        QVERIFY(QFile::remove(QStringLiteral("Options.dat")));
        QVERIFY(QFile::remove(QStringLiteral("Zoznam.dat")));
        QVERIFY(form.close());
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(readFile(QStringLiteral("Options.dat")), QByteArray("\x00\x01\x00", 3));
        QCOMPARE(readFile(QStringLiteral("Zoznam.dat")), catalogueBytes({{"Jeden", "CD 1"}}));
    }

    void unreadableCatalogueIsReportedAndNeverOverwritten() {
        // Opening "Zoznam.dat" asks for write access too, so a read-only file
        // fails to open: the second open of reading, after "Options.dat".
        const QByteArray original = catalogueBytes({{"Drahý disk", "Trezor"}});
        writeFile(QStringLiteral("Zoznam.dat"), original);
        writeOptions(true, false, true);
        vrindel::FaultyFileSystem fs;
        fs.failOn(Call::Open, opensBeforeReading() + 2, EACCES);

        RecordingBoxes boxes;
        TMainForm form(boxes, fs);
        QCOMPARE(fs.injected(), 1);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].icon, MessageBoxes::Icon::Error);
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("Vrindel 2.1"));
        QCOMPARE(boxes.shown[0].text, QStringLiteral("File access denied."));
        QVERIFY(form.catalogueUnread());

        QVERIFY(showWindow(form));
        QVERIFY(listedNames(form).isEmpty());
        QCOMPARE(ui(form).Status->panelText(0), QString());
        QCOMPARE(ui(form).Status->panelText(1), QStringLiteral("0 / 0"));

        // Even with a record typed in, the close leaves the catalogue alone,
        // and asks first: by default the window stays open.
        addRecord(form, QStringLiteral("Nový"), QStringLiteral("Polica"));
        QCOMPARE(listedNames(form), QStringList{"Nový"});

        QVERIFY(!form.close());
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown[1].icon, MessageBoxes::Icon::Warning);
        QCOMPARE(boxes.shown[1].caption, QStringLiteral("Vrindel 2.1"));
        QCOMPARE(boxes.shown[1].text, UnreadQuestion);
        QCOMPARE(boxes.shown[1].buttons, (QStringList{"Zavrieť bez uloženia", "Nechať otvorené"}));
        boxes.answer = [](const ShownBox&) { return true; };
        QVERIFY(form.close());
        QCOMPARE(boxes.shown.size(), 3);
        QCOMPARE(readFile(QStringLiteral("Zoznam.dat")), original);
        QCOMPARE(readFile(QStringLiteral("Options.dat")), QByteArray("\x01\x00\x01", 3));
    }

    void unreadableOptionsStopStartUpAndProtectTheCatalogue() {
        const QByteArray original = catalogueBytes({{"Niečo", "Tam"}});
        writeFile(QStringLiteral("Zoznam.dat"), original);
        writeOptions(false, false, true);
        vrindel::FaultyFileSystem fs;
        fs.failOn(Call::Open, opensBeforeReading() + 1, EACCES);

        RecordingBoxes boxes;
        TMainForm form(boxes, fs);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("File access denied."));
        QVERIFY(listedNames(form).isEmpty());
        QVERIFY(showWindow(form));
        QVERIFY(form.close());
        QCOMPARE(readFile(QStringLiteral("Zoznam.dat")), original);
    }

    void missingCatalogueThatCannotBeCreatedIsStillSavedLater() {
        // Nothing was there to lose: the close writes what the user added.
        writeOptions(true, false, true);
        vrindel::FaultyFileSystem fs;
        fs.failOn(Call::Rename, 1, EACCES);

        RecordingBoxes boxes;
        TMainForm form(boxes, fs);
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("Súbor so zoznamom sa nenašiel!"));
        QCOMPARE(boxes.shown[1].text, QStringLiteral("File access denied."));
        QVERIFY(!QFile::exists(QStringLiteral("Zoznam.dat")));

        QVERIFY(showWindow(form));
        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("Kniha"));
        press(form, Qt::Key_Return);
        typeText(form, QStringLiteral("Polica"));
        press(form, Qt::Key_Return);
        QVERIFY(form.close());
        QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))), QList<Record>({{"Kniha", "Polica"}}));
    }

    void failingSaveKeepsTheWindowOpenAndTheNextCloseTriesAgain() {
        const QByteArray original = catalogueBytes({{"Prvý", "A"}});
        writeFile(QStringLiteral("Zoznam.dat"), original);
        writeOptions(false, false, true);
        vrindel::FaultyFileSystem fs;
        RecordingBoxes boxes;
        TMainForm form(boxes, fs);
        QVERIFY(showWindow(form));

        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("Druhý"));
        press(form, Qt::Key_Return);
        typeText(form, QStringLiteral("B"));
        press(form, Qt::Key_Return);

        fs.reset();
        fs.failOn(Call::Write, 1, ENOSPC);
        QVERIFY(!form.close());
        QVERIFY(form.isVisible());
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("Vrindel 2.1"));
        QCOMPARE(boxes.shown[0].icon, MessageBoxes::Icon::Error);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("Disk full."));
        QCOMPARE(readFile(QStringLiteral("Zoznam.dat")), original);

        // The program goes on: the list still works, and the next close
        // starts again from the first step.
        press(form, Qt::Key_Up);
        QVERIFY(form.close());
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))),
                 QList<Record>({{"Prvý", "A"}, {"Druhý", "B"}}));
    }

    void failingOptionsSaveKeepsTheWindowOpen() {
        writeCatalogue({{"x", "y"}});
        writeOptions(true, false, true);
        vrindel::FaultyFileSystem fs;
        RecordingBoxes boxes;
        TMainForm form(boxes, fs);
        QVERIFY(showWindow(form));
        // Only what changed is saved: the switches, not the catalogue.
        ui(form).DelPlaceBox->click();
        fs.reset();
        fs.failOn(Call::Open, 1, EIO);
        QVERIFY(!form.close());
        QVERIFY(form.isVisible());
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("I/O error 5."));
        QVERIFY(form.close());
    }

    void fullStopRule_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "File access denied" << "File access denied.";
        QTest::newRow("digit") << "I/O error 5" << "I/O error 5.";
        QTest::newRow("parenthesis") << "List index out of bounds (3)" << "List index out of bounds (3)";
        QTest::newRow("exclamation") << "Hotovo!" << "Hotovo!";
        QTest::newRow("full stop") << "Done." << "Done.";
        QTest::newRow("hyphen, below the full stop") << "a-" << "a-";
        QTest::newRow("slash, above the full stop") << "a/" << "a/.";
        QTest::newRow("accented letter") << "poškodený" << "poškodený.";
        QTest::newRow("empty") << "" << "";
    }
    void fullStopRule() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(withFullStop(text), shown);
    }

    void sessionEndSavesBothFilesSilently_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGQUIT") << SIGQUIT;
    }
    void sessionEndSavesBothFilesSilently() {
        QFETCH(int, signal);
        writeCatalogue({{"Stará", "1"}});
        writeOptions(true, false, true);
        RecordingBoxes boxes;
        TMainForm form(boxes);
        QVERIFY(showWindow(form));
        int ended = 0;
        SessionEnd sessionEnd([&] {
            ++ended;
            form.SessionEnding();
        });

        ui(form).NewPolozka->setFocus();
        typeText(form, QStringLiteral("Nová"));
        press(form, Qt::Key_Return);
        typeText(form, QStringLiteral("2"));
        press(form, Qt::Key_Return);
        ui(form).DelPlaceBox->click();

        QCOMPARE(::raise(signal), 0);
        QTRY_COMPARE(ended, 1);
        QVERIFY(!form.isVisible());
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))),
                 QList<Record>({{"Stará", "1"}, {"Nová", "2"}}));
        QCOMPARE(readFile(QStringLiteral("Options.dat")), QByteArray("\x01\x01\x01", 3));

        // A second signal does not end the program twice.
        QCOMPARE(::raise(signal), 0);
        QTest::qWait(50);
        QCOMPARE(ended, 1);
    }

    void sessionEndShowsNothingWhenTheSaveFails() {
        writeCatalogue({{"Stará", "1"}});
        writeOptions(true, false, true);
        vrindel::FaultyFileSystem fs;
        RecordingBoxes boxes;
        TMainForm form(boxes, fs);
        QVERIFY(showWindow(form));
        addRecord(form, QStringLiteral("Nová"), QStringLiteral("2"));
        ui(form).DelPlaceBox->click();
        fs.reset();
        fs.failOn(Call::Write, 1, ENOSPC, 100);
        SessionEnd sessionEnd([&] { form.SessionEnding(); });
        CapturedStderr err;
        QCOMPARE(::raise(SIGTERM), 0);
        QTRY_VERIFY(!form.isVisible());
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))), QList<Record>({{"Stará", "1"}}));
        // One line says what was not saved, and why.
        QCOMPARE(err.text(), QStringLiteral("vrindel: not saved: Zoznam.dat (Disk full), Options.dat (Disk full)\n"));
        QVERIFY(form.lastSaveFailed());
    }

    // A second window on the same folder says so and ends, touching neither
    // file; the first goes on and saves as usual.
    void aSecondWindowOnTheFolderIsRefused() {
        writeCatalogue({{"Prvý", "1"}});
        writeOptions(true, false, true);
        RecordingBoxes boxes;
        TMainForm first(boxes);
        QVERIFY(showWindow(first));
        addRecord(first, QStringLiteral("Druhý"), QStringLiteral("2"));

        const QByteArray list = readFile(QStringLiteral("Zoznam.dat"));
        RecordingBoxes secondBoxes;
        {
            TMainForm second(secondBoxes);
            QVERIFY(second.refused());
            QCOMPARE(secondBoxes.shown.size(), 1);
            QCOMPARE(secondBoxes.shown[0].icon, MessageBoxes::Icon::Warning);
            QCOMPARE(secondBoxes.shown[0].caption, QStringLiteral("Vrindel"));
            QCOMPARE(secondBoxes.shown[0].text,
                     QStringLiteral("Zoznam v tomto priečinku je už otvorený v inom okne programu."));
            QVERIFY(second.close());
        }
        QCOMPARE(readFile(QStringLiteral("Zoznam.dat")), list);
        QCOMPARE(readFile(QStringLiteral("Options.dat")), optionsBytes(true, false, true));
        QVERIFY(boxes.shown.isEmpty());
        QVERIFY(first.close());
        QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))), QList<Record>({{"Prvý", "1"}, {"Druhý", "2"}}));
    }

    // A second start calls the open window by the catalogue, not by the path
    // that reached it: a linked folder and a hard link in another folder
    // reach the same window's name, another folder's catalogue none of them.
    void theOpenWindowIsCalledByTheCatalogue() {
        writeCatalogue({{"Prvý", "1"}});
        const QString here = QDir::currentPath();
        const auto back = qScopeGuard([&] { QDir::setCurrent(here); });
        QVERIFY(QDir().mkdir(QStringLiteral("other")) && QDir().mkdir(QStringLiteral("linked")));
        QCOMPARE(::symlink(qPrintable(here), "link"), 0);
        QCOMPARE(::link("Zoznam.dat", "linked/Zoznam.dat"), 0);
        writeFile(QStringLiteral("other/Zoznam.dat"), catalogueBytes({{"Prvý", "1"}}));

        const auto namesIn = [&](const QString& folder) {
            QDir::setCurrent(here + QLatin1Char('/') + folder);
            const QStringList names = openWindowNames(vrindel::systemFileSystem());
            QDir::setCurrent(here);
            return QSet<QString>(names.begin(), names.end());
        };
        const QSet<QString> names = namesIn(QStringLiteral("."));
        QVERIFY(!names.isEmpty());
        QCOMPARE(namesIn(QStringLiteral("link")), names);
        QVERIFY(namesIn(QStringLiteral("linked")).intersects(names));
        QVERIFY(!namesIn(QStringLiteral("other")).intersects(names));
    }

    // A save killed between naming its new file and renaming it leaves a
    // hidden file; the next start removes it, unless its process still runs.
    void aKilledSavesLeftoverGoesAtTheNextStart() {
        writeCatalogue({{"Prvý", "1"}});
        writeOptions(true, false, true);
        const pid_t gone = ::fork();
        if (gone == 0)
            ::_exit(0);
        ::waitpid(gone, nullptr, 0);
        const QString stale = QStringLiteral(".Zoznam.dat.tmp-%1-3").arg(gone);
        const QString live = QStringLiteral(".Options.dat.tmp-%1-1").arg(::getppid());
        writeFile(stale, QByteArray(4096, 'x'));
        writeFile(live, QByteArray(3, 'x'));
        RecordingBoxes boxes;
        TMainForm form(boxes);
        QCOMPARE(dir_->entries(), (QStringList{live, "Options.dat", "Zoznam.dat"}));
    }

    // Another program appends a record while the window is open; the close
    // keeps it after the window's own.
    void aRecordAnotherProgramWroteSurvivesTheClose() {
        writeCatalogue({{"Prvý", "1"}});
        writeOptions(false, false, true);
        RecordingBoxes boxes;
        TMainForm form(boxes);
        QVERIFY(showWindow(form));
        addRecord(form, QStringLiteral("Môj"), QStringLiteral("2"));
        writeCatalogue({{"Prvý", "1"}, {"Cudzí", "3"}, {"MÔJ", "4"}, {"Prvý", "5"}});
        QVERIFY(form.close());
        QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))),
                 QList<Record>({{"Prvý", "1"}, {"Môj", "2"}, {"Cudzí", "3"}}));
        // Those it could not take are in a file of their own, and said once.
        const QStringList conflicts = QDir().entryList({QStringLiteral("Zoznam.dat-conflicts-*.csv")});
        QCOMPARE(conflicts.size(), 1);
        QCOMPARE(readFile(conflicts[0]), QByteArray("name,location\r\nMÔJ,4\r\nPrvý,5\r\n"));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].icon, MessageBoxes::Icon::Information);
        QVERIFY(boxes.shown[0].text.contains(QStringLiteral(" 2 záznamy")));
        QVERIFY(boxes.shown[0].text.contains(QDir::current().absoluteFilePath(conflicts[0])));
    }

    // A sync engine left a copy of the catalogue with records it lacks: the
    // window asks once, naming how many, merging by default. Yes merges
    // them into the list and the file, sends a record listed with another
    // location to the conflict file, and removes the copy once the file is
    // saved; no leaves everything as it is. In a synced folder where this
    // computer received the catalogue from the other one, a copy that only
    // deletes and moves records is offered too, and merged three ways.
    void conflictCopiesAreMergedWhenTheUserWills_data() {
        QTest::addColumn<bool>("received");
        QTest::addColumn<QList<Record>>("copy");
        QTest::addColumn<bool>("merge");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QList<Record>>("stored");
        const QList<Record> own = {{"Auto", "Garáž"}, {"baza", "CD 1"}};
        const QList<Record> five = {{"a1", "1"}, {"a2", "2"}, {"a3", "3"}, {"a4", "4"}, {"a5", "5"}};
        QTest::newRow("two, merged")
            << false << QList<Record>{{"Auto", "Garáž"}, {"Čaj", "Kuchyňa"}, {"baza", "CD 9"}, {"Dom", "Polica"}} << true
            << QStringLiteral("Synchronizácia zanechala kópiu zoznamu, v ktorej sú 2 záznamy, ktoré v zozname nie "
                              "sú. Zlúčiť ich do zoznamu?")
            << QStringList{"Auto", "baza", "Čaj", "Dom"} << own + QList<Record>{{"Čaj", "Kuchyňa"}, {"Dom", "Polica"}};
        QTest::newRow("one, left") << false << QList<Record>{{"Dom", "Polica"}} << false
                                   << QStringLiteral("Synchronizácia zanechala kópiu zoznamu, v ktorej je 1 záznam, "
                                                     "ktorý v zozname nie je. Zlúčiť ho do zoznamu?")
                                   << QStringList{"Auto", "baza"} << own;
        QTest::newRow("five, merged") << false << five << true
                                      << QStringLiteral("Synchronizácia zanechala kópiu zoznamu, v ktorej je 5 "
                                                        "záznamov, ktoré v zozname nie sú. Zlúčiť ich do zoznamu?")
                                      << QStringList{"a1", "a2", "a3", "a4", "a5", "Auto", "baza"} << own + five;
        QTest::newRow("deletes and moves, merged")
            << true << QList<Record>{{"Auto", "Garáž"}, {"baza", "CD 9"}} << true
            << QStringLiteral("Synchronizácia zanechala kópiu zoznamu, v ktorej sú 2 záznamy zmazané alebo "
                              "presunuté. Prevziať tieto zmeny do zoznamu?")
            << QStringList{"Auto", "baza", "Ešte"} << QList<Record>{{"Auto", "Garáž"}, {"baza", "CD 9"}, {"Ešte", "1"}};
    }
    void conflictCopiesAreMergedWhenTheUserWills() {
        QFETCH(bool, received);
        QFETCH(QList<Record>, copy);
        QFETCH(bool, merge);
        QFETCH(QString, question);
        QFETCH(QStringList, listed);
        QFETCH(QList<Record>, stored);
        const QByteArray stateWas = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", QDir::current().absoluteFilePath(QStringLiteral("state")).toUtf8());
        const auto restoreState = qScopeGuard([&] { qputenv("XDG_STATE_HOME", stateWas); });
        writeOptions(true, false, true);
        if (received) {
            // The other computer's catalogue, read and changed here: what
            // this computer received from it.
            QVERIFY(QDir().mkdir(QStringLiteral(".stfolder")));
            writeCatalogue({{"Auto", "Garáž"}, {"baza", "CD 1"}, {"Dom", "Polica"}});
            RecordingBoxes quiet;
            TMainForm before(quiet);
            QVERIFY(showWindow(before));
            addRecord(before, QStringLiteral("Ešte"), QStringLiteral("1"));
            QVERIFY(before.close());
        } else {
            writeCatalogue({{"Auto", "Garáž"}, {"baza", "CD 1"}});
        }
        const QString copyName = QStringLiteral("Zoznam.sync-conflict-20261207-153000-ABCDEFG.dat");
        writeFile(copyName, catalogueBytes(copy));

        RecordingBoxes boxes;
        boxes.answer = [&](const ShownBox&) { return merge; };
        TMainForm form(boxes);
        QVERIFY(!boxes.shown.isEmpty());
        const ShownBox asked = boxes.shown[0];
        QCOMPARE(asked.icon, MessageBoxes::Icon::Information);
        QCOMPARE(asked.caption, QStringLiteral("Vrindel 2.1"));
        QCOMPARE(asked.text, question);
        QCOMPARE(asked.buttons, (QStringList{"Zlúčiť", "Nechať tak"}));
        QVERIFY(asked.yesIsDefault);
        QCOMPARE(listedNames(form), listed);
        QCOMPARE(ui(form).Status->panelText(0), QStringLiteral(" Počet záznamov: %1").arg(listed.size()));

        QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))), stored);
        QCOMPARE(QFile::exists(copyName), !merge);
        // The other location of "baza" is kept apart, and said once.
        const QStringList conflicts = QDir().entryList({QStringLiteral("Zoznam.dat-conflicts-*.csv")});
        const bool differs = merge && !received && copy.contains(Record{"baza", "CD 9"});
        QCOMPARE(conflicts.size(), differs ? 1 : 0);
        QCOMPARE(boxes.shown.size(), differs ? 2 : 1);
        if (differs) {
            QCOMPARE(readFile(conflicts[0]), QByteArray("name,location\r\nbaza,CD 9\r\n"));
            QVERIFY(boxes.shown[1].text.startsWith(QStringLiteral("1 záznam z kópií je v zozname s iným umiestnením.")));
            QVERIFY(boxes.shown[1].text.contains(QDir::current().absoluteFilePath(conflicts[0])));
        }

        QVERIFY(showWindow(form));
        QVERIFY(form.close());
        QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))), stored);
        QCOMPARE(boxes.shown.size(), differs ? 2 : 1);
    }

    // A save in place (the catalogue has a second name) killed half-way: the
    // next window finds the catalogue as it was and says so, once.
    void aSaveCutShortIsUndoneAtTheNextStart() {
        writeCatalogue({{"Prvý", "1"}, {"Druhý", "2"}, {"Tretí", "3"}});
        writeOptions(false, false, true);
        const QByteArray before = readFile(QStringLiteral("Zoznam.dat"));
        QVERIFY(::link("Zoznam.dat", "other.dat") == 0);
        bool journalLeft = false;
        for (int step = 1; step < 200 && !journalLeft; ++step) {
            vrindel::FaultyFileSystem fs;
            vrindel::CatalogueStore store({}, fs);
            store.open();
            vrindel::Catalogue catalogue;
            struct Quiet : vrindel::FileMessages {
                void listFileMissing() override {}
                void listFileDamaged() override {}
            } messages;
            store.readCatalogue(catalogue, messages);
            catalogue.deleteAtDisplay(0);
            fs.dieAt(step);
            store.saveCatalogue(catalogue);
            journalLeft = !QDir().entryList({QStringLiteral("*.journal")}).isEmpty() &&
                          readFile(QStringLiteral("Zoznam.dat")) != before;
        }
        QVERIFY(journalLeft);
        RecordingBoxes boxes;
        TMainForm form(boxes);
        QCOMPARE(readFile(QStringLiteral("Zoznam.dat")), before);
        QCOMPARE(QDir().entryList({QStringLiteral("*.journal")}), QStringList());
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].icon, MessageBoxes::Icon::Information);
        QVERIFY(boxes.shown[0].text.contains(QDir::current().absoluteFilePath(QStringLiteral("Zoznam.dat"))));
    }

    // Each way a close can fail ends in a window that closes: the first
    // failure keeps it open as always, from the second on the user is asked
    // (the default keeps it open); changes to a catalogue that could not be
    // read are never dropped without asking. Here the first question is
    // answered with the default, every later one with "close".
    void everyTrapEndsInAClosableWindow_data() {
        QTest::addColumn<QString>("trap");
        QTest::addColumn<QStringList>("startBoxes");
        QTest::addColumn<QStringList>("closeBoxes");
        const QString denied = QStringLiteral("File access denied.");
        QTest::newRow("folder named Zoznam.dat")
            << "folder list" << QStringList{"Súbor so zoznamom sa nenašiel!", denied}
            << QStringList{UnreadQuestion, UnreadQuestion};
        QTest::newRow("Zoznam.dat a link loop")
            << "loop" << QStringList{"I/O error 40."} << QStringList{UnreadQuestion, UnreadQuestion};
        QTest::newRow("folder named Options.dat")
            << "folder options" << QStringList{denied} << QStringList{UnreadQuestion, UnreadQuestion};
        QTest::newRow("working folder deleted")
            << "deleted" << QStringList{}
            << QStringList{denied, denied, SaveFailedQuestion, denied, SaveFailedQuestion};
        // Only the switches fail: the question names them, not the list.
        QTest::newRow("Options.dat turned into a folder")
            << "options gone" << QStringList{}
            << QStringList{denied, denied, OptionsFailedQuestion, denied, OptionsFailedQuestion};
        QTest::newRow("read-only file system")
            << "read-only" << QStringList{} << QStringList{denied, denied, SaveFailedQuestion, denied, SaveFailedQuestion};
    }
    void everyTrapEndsInAClosableWindow() {
        QFETCH(QString, trap);
        QFETCH(QStringList, startBoxes);
        QFETCH(QStringList, closeBoxes);
        const QByteArray list = catalogueBytes({{"Prvý", "1"}});
        writeFile(QStringLiteral("Zoznam.dat"), list);
        writeOptions(true, false, true);
        if (trap == "folder list") {
            QFile::remove(QStringLiteral("Zoznam.dat"));
            QVERIFY(QDir().mkdir(QStringLiteral("Zoznam.dat")));
        } else if (trap == "loop") {
            QFile::remove(QStringLiteral("Zoznam.dat"));
            QVERIFY(QFile::link(QStringLiteral("Zoznam.dat"), QStringLiteral("Zoznam.dat")));
        } else if (trap == "folder options") {
            QFile::remove(QStringLiteral("Options.dat"));
            QVERIFY(QDir().mkdir(QStringLiteral("Options.dat")));
        }
        vrindel::FaultyFileSystem fs;
        RecordingBoxes boxes;
        TMainForm form(boxes, fs);
        QStringList shown;
        for (const ShownBox& box : boxes.shown)
            shown << box.text;
        QCOMPARE(shown, startBoxes);
        QVERIFY(showWindow(form));
        addRecord(form, QStringLiteral("Nový"), QStringLiteral("2"));
        const QString folder = QDir::currentPath();
        if (trap == "deleted") {
            QVERIFY(QDir(folder).removeRecursively());
        } else if (trap == "options gone") {
            // A switch changed, so that the switches are written at all.
            ui(form).DelPlaceBox->toggle();
            QVERIFY(QFile::remove(QStringLiteral("Options.dat")));
            QVERIFY(QDir().mkdir(QStringLiteral("Options.dat")));
        } else if (trap == "read-only") {
            fs.reset();
            fs.failOn(Call::Open, 1, EROFS, 1000);
        }

        boxes.shown.clear();
        int questions = 0;
        boxes.answer = [&](const ShownBox&) { return ++questions > 1; };
        int closes = 0;
        while (form.isVisible() && closes < 6) {
            form.close();
            ++closes;
        }
        QVERIFY(!form.isVisible());
        shown.clear();
        for (const ShownBox& box : boxes.shown)
            shown << box.text;
        QCOMPARE(shown, closeBoxes);
        // A window let go without its save ends with a failure status.
        QCOMPARE(form.lastSaveFailed(), closeBoxes.contains(SaveFailedQuestion) || closeBoxes.contains(OptionsFailedQuestion));
        // What could not be read or written is as it was.
        if (trap == "folder list")
            QVERIFY(QFileInfo(QStringLiteral("Zoznam.dat")).isDir());
        if (trap == "loop")
            QVERIFY(QFileInfo(QStringLiteral("Zoznam.dat")).isSymLink());
        if (trap == "options gone")
            QCOMPARE(parseCatalogue(readFile(QStringLiteral("Zoznam.dat"))),
                     QList<Record>({{"Prvý", "1"}, {"Nový", "2"}}));
        if (trap == "folder options" || trap == "read-only")
            QCOMPARE(readFile(QStringLiteral("Zoznam.dat")), list);
        if (trap == "deleted")
            QVERIFY(QDir().mkpath(folder));   // for the scratch folder's own cleanup
    }
};

QTEST_MAIN(StartupClose)
#include "tst_startup_close.moc"
