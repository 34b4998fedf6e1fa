#pragma once
// What the window's edits take, and how an edit's text becomes a record text
// of the file and back.

#include <QString>
#include <QValidator>

#include <string>

#include "text/RecordText.h"

class QLineEdit;

// A record text as an edit shows it.
QString fromRecord(const vrindel::RecordText& text);

// A text of an edit as the file stores it. The edits refuse what cannot be
// stored, so this fails only for a text that reached an edit by other means.
std::string toRecord(const QString& text);

// What the user puts into an edit, typed, pasted or dropped, becomes a record
// text: one line of at most 31 Windows-1250 characters. Letters followed by
// combining accents are first composed into the accented letters they are,
// then a paste of several lines gives its first line, and the 31 characters
// are counted last. An insertion that holds a control character or one the
// file cannot store is refused whole; nothing is replaced behind the user's
// back. A cut or a refusal beeps and says at the edit what happened.
class RecordTextValidator : public QValidator {
    Q_OBJECT
public:
    explicit RecordTextValidator(QLineEdit* edit);
    State validate(QString& input, int& pos) const override;

private:
    friend void setRecordText(QLineEdit* edit, const QString& text);

    QLineEdit* edit_;
    mutable QString held_;          // the text the edit holds
    mutable bool fromCatalogue_ = false;
};

// Gives an edit its record rules.
void applyRecordRules(QLineEdit* edit);

// Shows a record text in an edit as the catalogue holds it, even one that a
// file written by other means gave characters the edits would refuse.
void setRecordText(QLineEdit* edit, const QString& text);
