#include "SaveNotices.h"

#include <cstdio>

#include "text/TerminalText.h"

QString rolledBackText(const QString& file) {
    return QStringLiteral("Posledné ukladanie zoznamu sa nedokončilo. Súbor\n%1\nbol vrátený do stavu pred ním.")
        .arg(file);
}

QString notRolledBackText(const QString& file, const QString& reason) {
    return QStringLiteral("Posledné ukladanie zoznamu sa nedokončilo a súbor\n%1\nsa nepodarilo vrátiť do stavu "
                          "pred ním (%2). Zoznam môže byť neúplný; pri ďalšom otvorení sa to skúsi znova.")
        .arg(file, reason);
}

QString stuckReasonText(const QString& reason, const QString& journal, const QString& owner) {
    if (journal.isEmpty())
        return reason;
    return QStringLiteral("%1; žurnál %2 vyrieši %3 alebo root, dovtedy sa zoznam neukladá").arg(reason, journal, owner);
}

QString refusedJournalsText(const QStringList& journals) {
    return QStringLiteral("Tieto súbory majú meno žurnálu ukladania zoznamu, ale jeho ukladanie ich nemohlo "
                          "zanechať. Neboli použité ani zmazané:\n%1")
        .arg(journals.join(QLatin1Char('\n')));
}

QString conflictsText(std::size_t count, const QString& file) {
    // Slovak counts: 1 záznam, 2 až 4 záznamy, 5 a viac záznamov.
    const QString text =
        count == 1 ? QStringLiteral("Iný program medzitým zapísal do zoznamu 1 záznam, ktorý sa nedal zlúčiť s vašimi "
                                    "zmenami. Je uložený v súbore\n%2\n\nDo zoznamu ho vrátite príkazom "
                                    "vrindel-cli import.")
        : count <= 4 ? QStringLiteral("Iný program medzitým zapísal do zoznamu %1 záznamy, ktoré sa nedali zlúčiť s "
                                      "vašimi zmenami. Sú uložené v súbore\n%2\n\nDo zoznamu ich vrátite príkazom "
                                      "vrindel-cli import.")
                     : QStringLiteral("Iný program medzitým zapísal do zoznamu %1 záznamov, ktoré sa nedali zlúčiť s "
                                      "vašimi zmenami. Sú uložené v súbore\n%2\n\nDo zoznamu ich vrátite príkazom "
                                      "vrindel-cli import.");
    return count == 1 ? text.arg(file) : text.arg(count).arg(file);
}

namespace {

// "Synchronizácia zanechala kópiu (kópie) zoznamu, v ktorej (ktorých) " and
// the rest in Slovak's three counts: je 1 záznam, sú 2 až 4 záznamy, je 5 a
// viac záznamov.
QString aboutCopies(std::size_t count, std::size_t copies, const char* one, const char* few, const char* many) {
    const QString left = copies == 1 ? QStringLiteral("Synchronizácia zanechala kópiu zoznamu, v ktorej ")
                                     : QStringLiteral("Synchronizácia zanechala kópie zoznamu, v ktorých ");
    return left + (count == 1 ? QString::fromUtf8(one) : QString::fromUtf8(count <= 4 ? few : many).arg(count));
}

}  // namespace

QString copiesQuestion(std::size_t count, std::size_t copies) {
    return aboutCopies(count, copies, "je 1 záznam, ktorý v zozname nie je. Zlúčiť ho do zoznamu?",
                       "sú %1 záznamy, ktoré v zozname nie sú. Zlúčiť ich do zoznamu?",
                       "je %1 záznamov, ktoré v zozname nie sú. Zlúčiť ich do zoznamu?");
}

QString copiesChangesQuestion(std::size_t count, std::size_t copies) {
    return aboutCopies(count, copies, "je 1 záznam zmazaný alebo presunutý. Prevziať túto zmenu do zoznamu?",
                       "sú %1 záznamy zmazané alebo presunuté. Prevziať tieto zmeny do zoznamu?",
                       "je %1 záznamov zmazaných alebo presunutých. Prevziať tieto zmeny do zoznamu?");
}

QString copiesConflictsText(std::size_t count, const QString& file) {
    const QString text =
        count == 1 ? QStringLiteral("1 záznam z kópií je v zozname s iným umiestnením. V zozname ostalo jeho "
                                    "umiestnenie, to z kópie je uložené v súbore\n%2")
        : count <= 4 ? QStringLiteral("%1 záznamy z kópií sú v zozname s iným umiestnením. V zozname ostali ich "
                                      "umiestnenia, tie z kópií sú uložené v súbore\n%2")
                     : QStringLiteral("%1 záznamov z kópií je v zozname s iným umiestnením. V zozname ostali ich "
                                      "umiestnenia, tie z kópií sú uložené v súbore\n%2");
    return count == 1 ? text.arg(file) : text.arg(count).arg(file);
}

QStringList tellOfSaveOnTerminal(const vrindel::SaveReport& report) {
    if (report.conflicts)
        std::fprintf(stderr, "vrindel: %zu records another program wrote could not be merged; they are in %s\n",
                     report.conflicts, vrindel::printable(report.conflictFile).c_str());
    QStringList unsaved;
    for (const vrindel::SaveReport::Failure& failure : report.failures)
        unsaved << QStringLiteral("%1 (%2)").arg(
            QString::fromUtf8(failure.file == vrindel::StoredFile::Catalogue ? vrindel::ListFileName
                                                                              : vrindel::OptionsFileName),
            QString::fromUtf8(failure.error.what()));
    return unsaved;
}
