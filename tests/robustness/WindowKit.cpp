#include "WindowKit.h"

#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QTest>

#include <filesystem>
#include <stdexcept>

#include "Catalogue.h"
#include "CatalogueFiles.h"
#include "RecordText.h"

namespace kit {

CurrentFolder::CurrentFolder() {
    previous_ = std::filesystem::current_path().string();
    std::string pattern = (std::filesystem::temp_directory_path() / "vrindel-window-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a scratch folder");
    path_ = pattern;
    std::filesystem::current_path(path_);
}

CurrentFolder::~CurrentFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}

QStringList CurrentFolder::entries() const {
    QStringList names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
        names << QString::fromStdString(entry.path().filename().string());
    names.sort();
    return names;
}

std::string bytesOf(const QString& text) {
    std::optional<std::string> bytes = vrindel::toWindows1250(text.toStdU16String());
    if (!bytes)
        throw std::invalid_argument("a text outside Windows-1250");
    return *bytes;
}

QString textOf(std::string_view bytes) {
    return QString::fromStdU16String(vrindel::fromWindows1250(bytes));
}

QByteArray catalogueBytes(const QList<Record>& records) {
    QByteArray out;
    for (const Record& r : records) {
        for (const QString* text : {&r.first, &r.second}) {
            const std::string bytes = bytesOf(*text);
            QByteArray record(int(vrindel::ListRecordSize), '\0');
            record[0] = char(bytes.size());
            std::copy(bytes.begin(), bytes.end(), record.begin() + 1);
            out += record;
        }
    }
    return out;
}

QByteArray optionsBytes(bool zoradit, bool delPlaceBox, bool delExt) {
    QByteArray bytes;
    bytes.append(char(zoradit)).append(char(delPlaceBox)).append(char(delExt));
    return bytes;
}

void putFile(const char* name, const QByteArray& bytes) {
    QFile file(QString::fromUtf8(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error(std::string("cannot write ") + name);
}

std::optional<QByteArray> fileBytes(const char* name) {
    QFile file(QString::fromUtf8(name));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

std::unique_ptr<TMainForm> openWindow(MessageBoxes& boxes, vrindel::FileSystem& fs) {
    auto form = std::make_unique<TMainForm>(boxes, fs);
    form->show();
    form->activateWindow();
    if (!QTest::qWaitForWindowActive(form.get()))
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

QWidget* focused(TMainForm& form) {
    QWidget* widget = form.focusWidget();
    return widget ? widget : &form;
}

void press(TMainForm& form, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(focused(form), key, modifiers);
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

void typeText(TMainForm& form, const QString& text) {
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
