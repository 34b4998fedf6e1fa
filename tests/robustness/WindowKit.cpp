#include "WindowKit.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QTest>

#include <stdexcept>

#include "records/Catalogue.h"
#include "store/format/CatalogueFiles.h"
#include "text/RecordText.h"

namespace kit {

std::string bytesOf(const QString& text) {
    std::optional<std::string> bytes = vrindel::toWindows1250(text.toStdU16String());
    if (!bytes)
        throw std::invalid_argument("a text outside Windows-1250");
    return *bytes;
}

QString textOf(std::string_view bytes) {
    return QString::fromStdU16String(vrindel::fromWindows1250(bytes));
}

std::optional<QByteArray> fileBytes(const char* name) {
    QFile file(QString::fromUtf8(name));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

std::unique_ptr<TMainForm> openWindow(MessageBoxes& boxes, vrindel::FileSystem& fs) {
    auto form = std::make_unique<TMainForm>(boxes, fs);
    if (!showWindow(*form))
        throw std::runtime_error("the window did not become active");
    return form;
}

QList<Record> storedRecords(const TMainForm& form) {
    const vrindel::Catalogue& c = form.catalogue();
    QList<Record> records;
    for (int j = 0; j < c.storageCount(); ++j)
        records.append({textOf(c.storageName(j).view()), textOf(c.storageLocation(j).view())});
    return records;
}

QStringList displayedNames(const TMainForm& form) {
    const vrindel::Catalogue& c = form.catalogue();
    QStringList names;
    for (int i = 0; i < c.displayCount(); ++i)
        names << textOf(c.displayAt(i).view());
    return names;
}

void typeChar(TMainForm& form, QChar c, bool autoRepeat) {
    QWidget* target = focused(form);
    // The key a layout would report: the letter's capital, or the character.
    const int key = c.toUpper().unicode();
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, QString(c), autoRepeat);
    QApplication::sendEvent(target, &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, QString(c), autoRepeat);
    QApplication::sendEvent(target, &up);
}

void typeChars(TMainForm& form, const QString& text) {
    for (QChar c : text)
        typeChar(form, c);
}

void tabInto(QWidget* control) {
    control->setFocus(Qt::TabFocusReason);
}

void paste(TMainForm& form, const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    press(form, Qt::Key_V, Qt::ControlModifier);
}

}  // namespace kit
