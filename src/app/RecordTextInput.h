#pragma once
// What the window's edits take, and how an edit's text becomes a record text
// of the file and back.

#include <QString>
#include <QValidator>

#include <string>

#include "RecordText.h"

// A record text as an edit shows it.
QString fromRecord(const vrindel::RecordText& text);

// A text of an edit as the file stores it. The edits refuse what cannot be
// stored, so this fails only for a text that reached an edit by other means.
std::string toRecord(const QString& text);

// A record text holds Windows-1250 characters only: a character the file
// cannot hold is refused as it is typed, and a paste that holds one is
// refused whole. Nothing is replaced behind the user's back; only a letter
// followed by a combining accent is taken as the one accented letter it is.
class RecordTextValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};
