#include "SaveNotices.h"

QString rolledBackText(const QString& file) {
    return QStringLiteral("Posledné ukladanie zoznamu sa nedokončilo. Súbor\n%1\nbol vrátený do stavu pred ním.")
        .arg(file);
}

QString notRolledBackText(const QString& file, const QString& reason) {
    return QStringLiteral("Posledné ukladanie zoznamu sa nedokončilo a súbor\n%1\nsa nepodarilo vrátiť do stavu "
                          "pred ním (%2). Zoznam môže byť neúplný; pri ďalšom otvorení sa to skúsi znova.")
        .arg(file, reason);
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
