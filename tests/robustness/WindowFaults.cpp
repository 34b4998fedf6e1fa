// The window over a failing file system: every call of its close, and every
// call of its start-up, made to fail in turn. The user must see the error's
// text with its full stop in the generic error message, a failed close must
// leave the window open and the files old or new, and the next close, the
// fault gone, must save: no record is ever lost.

#include "WindowTests.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>

#include "store/format/CatalogueFiles.h"
#include "FaultCalls.h"
#include "FaultyFileSystem.h"
#include "store/format/FileLayer.h"
#include "WindowKit.h"

using namespace kit;
using Call = vrindel::FileSystem::Call;
using vrindel::CallKind;
using vrindel::CallKinds;

namespace {

struct Fault {
    const char* label;
    int err;
};

const Fault Faults[] = {{"ENOSPC", ENOSPC}, {"EIO", EIO}, {"EACCES", EACCES}, {"EINTR", EINTR}};

// The generic error message for an errno: its text with the full stop.
QString messageFor(int err) {
    switch (err) {
    case ENOSPC: return QStringLiteral("Disk full.");
    case EACCES: return QStringLiteral("File access denied.");
    default: return QStringLiteral("I/O error %1.").arg(err);
    }
}

const QList<Record> Before = {
    {QStringLiteral("Čierna skrinka"), QStringLiteral("Polica 3")},
    {QStringLiteral("archív 2019"), QStringLiteral("DVD 12")},
    {QStringLiteral("Účtovníctvo"), QStringLiteral("CD 4")},
};
const QStringList BothFiles = {QStringLiteral("Options.dat"), QStringLiteral("Zoznam.dat")};
const QString SecondName = QStringLiteral("Zoznam.dat.link");

QString describe(const std::optional<QByteArray>& now, const QByteArray& before, const QByteArray& after) {
    if (now == before)
        return QStringLiteral("old");
    if (now == after)
        return QStringLiteral("new");
    return now ? QStringLiteral("other content of %1 bytes").arg(now->size()) : QStringLiteral("no file");
}

// Whether the options file still belongs to whom it did.
bool optionsOwnerKept(bool shared) {
    struct ::stat st{};
    return !shared || ::geteuid() != 0 || (::stat(vrindel::OptionsFileName, &st) == 0 && st.st_uid == 65534);
}

// What the user does before closing: adds a record and turns sorting off.
void makeChanges(TMainForm& form) {
    press(form, Qt::Key_N, Qt::AltModifier);
    typeChars(form, QStringLiteral("Nový záznam.zip"));
    press(form, Qt::Key_Return);
    typeChars(form, QStringLiteral("Skriňa"));
    press(form, Qt::Key_Return);
    press(form, Qt::Key_O, Qt::AltModifier);
}

const QList<Record> After = Before + QList<Record>{{QStringLiteral("Nový záznam"), QStringLiteral("Skriňa")}};

}  // namespace

void runWindowCloseFaults(int& cases) {
    const QByteArray listBefore = catalogueBytes(Before), listAfter = catalogueBytes(After);
    const QByteArray optionsBefore = optionsBytes(true, false, true), optionsAfter = optionsBytes(false, false, true);

    // The two files alone, and shared: the catalogue has a second name, so
    // it is rewritten in place, and (where the tests may give files away)
    // the options belong to another user, whom their new file must belong
    // to as well.
    for (const bool shared : {false, true}) {
        const QString setting = shared ? QStringLiteral("close of shared files") : QStringLiteral("close");
        const QStringList files = shared ? BothFiles + QStringList{SecondName} : BothFiles;
        auto putFiles = [&] {
            writeFile(vrindel::ListFileName, listBefore);
            writeFile(vrindel::OptionsFileName, optionsBefore);
            if (!shared)
                return;
            QVERIFY(::link(vrindel::ListFileName, qPrintable(SecondName)) == 0);
            if (::geteuid() == 0)
                QVERIFY(::chown(vrindel::OptionsFileName, 65534, 65534) == 0);
        };

        // A clean close, to count its calls and to see that the changes are made.
        std::map<Call, int> counts;
        {
            ScratchDir folder;
            putFiles();
            RecordingBoxes boxes;
            vrindel::FaultyFileSystem fs;
            auto form = openWindow(boxes, fs);
            makeChanges(*form);
            QVERIFY(storedRecords(*form) == After);
            fs.reset();
            QVERIFY(form->close());
            for (const CallKind& kind : CallKinds)
                counts[kind.call] = fs.calls(kind.call);
            QCOMPARE(boxes.shown.size(), 0);
            QVERIFY(fileBytes(vrindel::ListFileName) == listAfter);
            QVERIFY(fileBytes(vrindel::OptionsFileName) == optionsAfter);
            QCOMPARE(folder.entries(), files);
            QVERIFY(optionsOwnerKept(shared));
            // The faults reach the in-place save, and the giving away.
            if (shared) {
                QVERIFY(counts[Call::Ftruncate] > 0 && counts[Call::Fallocate] > 0);
                QVERIFY(counts[Call::Fchown] > 0 || ::geteuid() != 0);
            }
        }

        for (const CallKind& kind : CallKinds) {
            for (int nth = 1; nth <= counts[kind.call]; ++nth) {
                for (const Fault& fault : Faults) {
                    const QString where = QStringLiteral("%1, %2 call %3 of %4: %5")
                                              .arg(setting)
                                              .arg(QString::fromUtf8(kind.name))
                                              .arg(nth)
                                              .arg(counts[kind.call])
                                              .arg(QString::fromUtf8(fault.label));
                    ++cases;
                    ScratchDir folder;
                    putFiles();
                    RecordingBoxes boxes;
                    vrindel::FaultyFileSystem fs;
                    auto form = openWindow(boxes, fs);
                    makeChanges(*form);
                    fs.reset();
                    fs.failOn(kind.call, nth, fault.err);

                    const bool closed = form->close();
                    QVERIFY2(fs.injected() > 0, qPrintable(where + ": the fault never struck"));
                    const QString list = describe(fileBytes(vrindel::ListFileName), listBefore, listAfter);
                    const QString options = describe(fileBytes(vrindel::OptionsFileName), optionsBefore, optionsAfter);
                    QVERIFY2(folder.entries() == files,
                             qPrintable(where + ": left behind: " + folder.entries().join(u' ')));
                    if (closed) {
                        // Only a fault that changed nothing may pass unreported.
                        QVERIFY2(boxes.shown.isEmpty(), qPrintable(where + ": a box was shown, yet the window closed"));
                        QVERIFY2(list == u"new" && options == u"new",
                                 qPrintable(where + ": closed without a message, the files hold " + list + " / " +
                                            options));
                        QVERIFY2(form->isHidden(), qPrintable(where));
                        continue;
                    }
                    QVERIFY2(fault.err != EINTR,
                             qPrintable(where + ": an interrupted call was reported instead of retried"));
                    QVERIFY2(boxes.shown.size() == 1, qPrintable(where + ": not one message box"));
                    const ShownBox& box = boxes.shown.front();
                    QVERIFY2(box.icon == MessageBoxes::Icon::Error, qPrintable(where));
                    QVERIFY2(box.caption == u"Vrindel 2.1", qPrintable(where + ": caption " + box.caption));
                    QVERIFY2(box.text == messageFor(fault.err), qPrintable(where + ": the message reads " + box.text));
                    QVERIFY2(form->isVisible(), qPrintable(where + ": the window closed after a failed save"));
                    QVERIFY2((list == u"old" || list == u"new") && (options == u"old" || options == u"new"),
                             qPrintable(where + ": the files hold " + list + " / " + options));

                    // The fault gone, the next close saves both files and ends.
                    fs.reset();
                    QVERIFY2(form->close(), qPrintable(where + ": the next close failed"));
                    QVERIFY2(boxes.shown.size() == 1, qPrintable(where + ": the next close showed a message"));
                    QVERIFY2(fileBytes(vrindel::ListFileName) == listAfter,
                             qPrintable(where + ": the next close lost records"));
                    QVERIFY2(fileBytes(vrindel::OptionsFileName) == optionsAfter, qPrintable(where));
                    QVERIFY2(folder.entries() == files, qPrintable(where + ": left behind after the next close"));
                    QVERIFY2(optionsOwnerKept(shared), qPrintable(where + ": the options changed hands"));
                }
            }
        }
    }
}

void runWindowStartUpFaults(int& cases) {
    const QByteArray listBefore = catalogueBytes(Before);
    const QByteArray options = optionsBytes(true, false, true);

    std::map<Call, int> counts;
    {
        ScratchDir folder;
        writeFile(vrindel::ListFileName, listBefore);
        writeFile(vrindel::OptionsFileName, options);
        RecordingBoxes boxes;
        vrindel::FaultyFileSystem fs;
        auto form = openWindow(boxes, fs);
        for (const CallKind& kind : CallKinds)
            counts[kind.call] = fs.calls(kind.call);
        QCOMPARE(boxes.shown.size(), 0);
        QVERIFY(storedRecords(*form) == Before);
    }

    for (const CallKind& kind : CallKinds) {
        for (int nth = 1; nth <= counts[kind.call]; ++nth) {
            for (const Fault& fault : Faults) {
                const QString where = QStringLiteral("start-up, %1 call %2 of %3: %4")
                                          .arg(QString::fromUtf8(kind.name))
                                          .arg(nth)
                                          .arg(counts[kind.call])
                                          .arg(QString::fromUtf8(fault.label));
                ++cases;
                ScratchDir folder;
                writeFile(vrindel::ListFileName, listBefore);
                writeFile(vrindel::OptionsFileName, options);
                RecordingBoxes boxes;
                vrindel::FaultyFileSystem fs;
                fs.failOn(kind.call, nth, fault.err);
                auto form = openWindow(boxes, fs);
                QVERIFY2(fs.injected() > 0, qPrintable(where + ": the fault never struck"));

                // The window opens whatever happened, and says what happened.
                QVERIFY2(form->isVisible(), qPrintable(where));
                for (const ShownBox& box : boxes.shown) {
                    QVERIFY2(box.text != QString::fromUtf8(vrindel::ListMissingText),
                             qPrintable(where + ": an existing catalogue was reported missing"));
                    if (box.text == QString::fromUtf8(vrindel::ListDamagedText))
                        continue;
                    QVERIFY2(box.caption == u"Vrindel 2.1" && box.text == messageFor(fault.err),
                             qPrintable(where + ": the message reads " + box.text));
                }
                if (fault.err == EINTR) {
                    QVERIFY2(boxes.shown.isEmpty(), qPrintable(where + ": an interrupted call was reported"));
                    QVERIFY2(storedRecords(*form) == Before, qPrintable(where + ": an interrupted read lost records"));
                }
                const vrindel::Catalogue& c = form->catalogue();
                QVERIFY2(c.storageCount() == c.displayCount() && c.storageCount() == c.recordCount(),
                         qPrintable(where + ": the lists are not aligned"));

                // Whatever start-up managed to read, a close must not cost
                // the records it could not.
                fs.reset();
                const int shownBefore = int(boxes.shown.size());
                QVERIFY2(form->close(), qPrintable(where + ": the close after it failed"));
                QVERIFY2(boxes.shown.size() == shownBefore, qPrintable(where + ": the close showed a message"));
                const std::optional<QByteArray> now = fileBytes(vrindel::ListFileName);
                // A read that the system broke off shows the damaged-file
                // message, and the close keeps the file as it was.
                QVERIFY2(now == listBefore,
                         qPrintable(where + ": the catalogue file now holds " + describe(now, listBefore, {}) + " (" +
                                    QString::number(now ? now->size() / 64 : 0) + " of " +
                                    QString::number(Before.size()) + " records)"));
                QVERIFY2(folder.entries() == BothFiles, qPrintable(where + ": left behind: " + folder.entries().join(u' ')));
            }
        }
    }
}
