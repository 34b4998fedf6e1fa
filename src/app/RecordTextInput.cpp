// What the window's edits take, and how an edit's text becomes a record text
// of the file and back.
#include "RecordTextInput.h"

#include <QApplication>
#include <QLineEdit>
#include <QToolTip>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace {

constexpr qsizetype MaxLength = qsizetype(vrindel::MaxTextLength);

bool storable(QChar c) {
    return vrindel::canStore(c.unicode());
}

// C0 and C1 control characters and DEL.
bool control(QChar c) {
    return vrindel::isControlCharacter(c.unicode());
}

// The characters of a text that the file cannot store, each once, in quotes.
QString unstorable(const QString& text) {
    QString found;
    for (QChar c : text)
        if (!storable(c) && !found.contains(c) && found.size() < 8)
            found += c;
    return QStringLiteral("„%1“").arg(found);
}

// Beeps and says at the edit what became of an insertion.
void tell(QLineEdit* edit, const QString& message) {
    QApplication::beep();
    if (edit && edit->isVisible())
        QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), message, edit, QRect(), 5000);
}

}  // namespace

QString fromRecord(const vrindel::RecordText& text) {
    return QString::fromStdU16String(vrindel::fromWindows1250(text.view()));
}

std::string toRecord(const QString& text) {
    std::optional<std::string> bytes = vrindel::toWindows1250(text.toStdU16String());
    if (!bytes)
        throw std::runtime_error("The text cannot be stored: it holds characters outside Windows-1250");
    return *bytes;
}

RecordTextValidator::RecordTextValidator(QLineEdit* edit) : QValidator(edit), edit_(edit) {}

QValidator::State RecordTextValidator::validate(QString& input, int& pos) const {
    if (fromCatalogue_) {
        held_ = input;
        return Acceptable;
    }
    // The change keeps some of the old text before and after what it
    // inserts; the caret stands at the end of an insertion.
    const QString& old = held_;
    qsizetype after = input.size() - pos;
    if (pos < 0 || after < 0 || after > old.size() || QStringView(old).right(after) != QStringView(input).right(after)) {
        after = 0;
        while (after < std::min(old.size(), input.size()) && old[old.size() - 1 - after] == input[input.size() - 1 - after])
            ++after;
    }
    qsizetype before = 0;
    const qsizetype kept = std::min(old.size(), input.size()) - after;
    while (before < kept && old[before] == input[before])
        ++before;
    QString inserted = input.mid(before, input.size() - before - after);
    if (inserted.isEmpty()) {
        held_ = input;
        return Acceptable;
    }

    QStringList told;
    // A single-line edit takes the first line of what is pasted.
    const auto lineEnd = std::find_if(inserted.begin(), inserted.end(), [](QChar c) { return c == u'\n' || c == u'\r'; });
    if (lineEnd != inserted.end()) {
        inserted.truncate(lineEnd - inserted.begin());
        told << QStringLiteral("Vložil sa len prvý riadok textu.");
    }
    // Composed first, so that a letter and its accent count as one, and cut
    // to the room left before anything is judged: a character that the cut
    // drops cannot spoil what it keeps.
    QString head = (input.left(before) + inserted).normalized(QString::NormalizationForm_C);
    const QString tail = input.right(after);
    bool cut = false;
    if (head.size() + tail.size() > MaxLength) {
        head.truncate(std::max(before, MaxLength - tail.size()));
        cut = true;
    }
    const QStringView added = QStringView(head).mid(std::min(before, head.size()));
    if (std::any_of(added.begin(), added.end(), control)) {
        tell(edit_, QStringLiteral("Text obsahuje riadiace znaky, preto sa nevložil."));
        return Invalid;
    }
    if (!std::all_of(head.begin(), head.end(), storable)) {
        tell(edit_, QStringLiteral("Text obsahuje znaky, ktoré sa do zoznamu nedajú uložiť (%1), preto sa nevložil.")
                        .arg(unstorable(head)));
        return Invalid;
    }
    if (cut)
        told << (head + tail == old ? QStringLiteral("Zmestí sa najviac %1 znakov.")
                                    : QStringLiteral("Zmestí sa najviac %1 znakov, zvyšok sa nevložil."))
                    .arg(MaxLength);
    if (!told.isEmpty())
        tell(edit_, told.join(u' '));
    if (head + tail == old)
        return Invalid;  // nothing of it is left: the edit keeps its text
    input = head + tail;
    pos = int(head.size());
    held_ = input;
    return Acceptable;
}

void applyRecordRules(QLineEdit* edit) {
    // The validator counts the characters: a paste must reach it whole, to be
    // composed before it is cut.
    edit->setMaxLength(32767);
    edit->setValidator(new RecordTextValidator(edit));
}

void setRecordText(QLineEdit* edit, const QString& text) {
    const auto* rules = qobject_cast<const RecordTextValidator*>(edit->validator());
    if (!rules) {
        edit->setText(text);
        return;
    }
    rules->fromCatalogue_ = true;
    edit->setText(text);
    rules->fromCatalogue_ = false;
}
