// What the window's edits take, and how an edit's text becomes a record text
// of the file and back.
#include "RecordTextInput.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace {

bool storable(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return vrindel::canStore(c.unicode()); });
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

QValidator::State RecordTextValidator::validate(QString& input, int& pos) const {
    if (storable(input))
        return Acceptable;
    const QString composed = input.normalized(QString::NormalizationForm_C);
    if (composed != input && storable(composed)) {
        pos = std::min(int(input.left(pos).normalized(QString::NormalizationForm_C).size()), int(composed.size()));
        input = composed;
        return Acceptable;
    }
    return Invalid;
}
