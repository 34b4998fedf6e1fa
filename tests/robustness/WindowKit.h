#pragma once
// What the window-level robustness tests add to the window tests' support
// (recorded message boxes, a scratch current directory, the files' bytes,
// keys sent to the focused control): the window's state read back in the
// window's own terms, a window over a given file system, and input as a
// keyboard layout or the clipboard delivers it.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>

#include "AppTestSupport.h"
#include "MainUnit.h"

namespace kit {

// Windows-1250 bytes of a text; the text must be storable.
std::string bytesOf(const QString& text);
QString textOf(std::string_view bytes);

// The bytes of a file, or nothing when there is no such file.
std::optional<QByteArray> fileBytes(const char* name);

// A window over the given file system, shown and active as a user finds it.
std::unique_ptr<TMainForm> openWindow(MessageBoxes& boxes, vrindel::FileSystem& fs = vrindel::systemFileSystem());

// The records of the window's catalogue in storage order.
QList<Record> storedRecords(const TMainForm& form);
QStringList displayedNames(const TMainForm& form);

// One character as a keyboard layout delivers it.
void typeChar(TMainForm& form, QChar c, bool autoRepeat = false);
// Every character so, plain ASCII too.
void typeChars(TMainForm& form, const QString& text);
// Focus as the Tab key gives it (an edit then selects its whole text).
void tabInto(QWidget* control);
// Pastes through the clipboard with Ctrl+V into the focused control.
void paste(TMainForm& form, const QString& text);

}  // namespace kit
