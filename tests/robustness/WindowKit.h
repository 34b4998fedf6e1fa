#pragma once
// What the window-level robustness tests share: message boxes recorded
// instead of shown, a scratch current folder, the window's state read back
// in the window's own terms, and keys sent as a keyboard sends them.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "MainUnit.h"
#include "MessageBoxes.h"

namespace kit {

struct ShownBox {
    MessageBoxes::Icon icon;
    QString caption;
    QString text;
};

class RecordingBoxes : public MessageBoxes {
public:
    void show(Icon icon, const QString& caption, const QString& text) override { shown.append({icon, caption, text}); }
    QList<ShownBox> shown;
};

// Makes a fresh folder the current one for the life of the object.
class CurrentFolder {
public:
    CurrentFolder();
    ~CurrentFolder();
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;
    const std::string& path() const { return path_; }
    // Every name in the folder, hidden ones included, sorted.
    QStringList entries() const;

private:
    std::string path_;
    std::string previous_;
};

using Record = std::pair<QString, QString>;   // name, location

// Windows-1250 bytes of a text; the text must be storable.
std::string bytesOf(const QString& text);
QString textOf(std::string_view bytes);

// The catalogue file as the program writes it.
QByteArray catalogueBytes(const QList<Record>& records);
QByteArray optionsBytes(bool zoradit, bool delPlaceBox, bool delExt);
void putFile(const char* name, const QByteArray& bytes);
std::optional<QByteArray> fileBytes(const char* name);

// A window over the given file system, shown and active as a user finds it.
std::unique_ptr<TMainForm> openWindow(MessageBoxes& boxes, vrindel::FileSystem& fs = vrindel::systemFileSystem());

// The records of the window's catalogue in storage order.
QList<Record> storedRecords(const TMainForm& form);
QStringList displayedNames(const TMainForm& form);

// Keys go to the control that has the focus.
QWidget* focused(TMainForm& form);
void press(TMainForm& form, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// One character as a keyboard layout delivers it.
void typeChar(TMainForm& form, QChar c, bool autoRepeat = false);
void typeText(TMainForm& form, const QString& text);
// Focus as the Tab key gives it (an edit then selects its whole text).
void tabInto(QWidget* control);
// Pastes through the clipboard with Ctrl+V into the focused control.
void paste(TMainForm& form, const QString& text);

}  // namespace kit
