#pragma once
// What the window tests share: message boxes that are recorded instead of
// shown, a scratch current directory per test, catalogue files written and
// read byte by byte, the window's controls found by their names, and key
// and mouse input sent the way a user sends it.

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <utility>

#include "MessageBoxes.h"
#include "StatusBar.h"
#include "ZoznamView.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class TMainForm;

struct ShownBox {
    MessageBoxes::Icon icon;
    QString caption;
    QString text;
    QStringList buttons = {};   // a question's two buttons; empty for OK alone
    bool yesIsDefault = false;  // a question's default button is its first
};

class RecordingBoxes : public MessageBoxes {
public:
    void show(Icon icon, const QString& caption, const QString& text) override;
    // A question is recorded like a box and answered by `answer`: by
    // default as Escape answers it, with `no`.
    bool ask(Icon icon, const QString& caption, const QString& text, const QString& yes, const QString& no,
             bool yesIsDefault = false) override;
    QList<ShownBox> shown;
    std::function<void()> onShow;   // runs while the "box" is up
    std::function<bool(const ShownBox&)> answer;
};

// A fresh, empty current directory for the life of the object.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    QString path() const { return dir_.path(); }
    bool isValid() const { return dir_.isValid(); }
    // Every name in the directory, hidden ones included, sorted.
    QStringList entries() const;

private:
    QTemporaryDir dir_;
    QString previous_;
};

using Record = std::pair<QString, QString>;   // name, location

// A catalogue file as the program writes it: 64 bytes per record, the
// bytes after each text zero. Every text must be storable.
QByteArray catalogueBytes(const QList<Record>& records);
QByteArray optionsBytes(bool zoradit, bool delPlaceBox, bool delExt);
QList<Record> parseCatalogue(const QByteArray& bytes);
void writeFile(const QString& name, const QByteArray& bytes);
QByteArray readFile(const QString& name);
void writeCatalogue(const QList<Record>& records);
void writeOptions(bool zoradit, bool delPlaceBox, bool delExt);

// One test's window: a scratch current directory, both files written into
// it, and the window opened over them with its message boxes recorded.
// Made in a test's init() and dropped in its cleanup(); the window goes
// first, then its boxes, then the directory.
class WindowUnderTest {
public:
    WindowUnderTest();
    ~WindowUnderTest();
    WindowUnderTest(const WindowUnderTest&) = delete;
    WindowUnderTest& operator=(const WindowUnderTest&) = delete;
    bool isValid() const { return dir_.isValid(); }

    // Writes the catalogue and the three switches, then opens the window
    // (not yet shown) over them.
    TMainForm& open(const QList<Record>& records, bool zoradit, bool delPlaceBox, bool delExt);
    bool isOpen() const { return form_ != nullptr; }
    RecordingBoxes& boxes() { return boxes_; }

private:
    ScratchDir dir_;
    RecordingBoxes boxes_;
    std::unique_ptr<TMainForm> form_;
};

// The window's controls, found as anything outside the window finds them:
// by the object names the window gives them. A control missing, or of
// another kind, ends the test run.
struct WindowControls {
    ZoznamView* Zoznam;
    QCheckBox* DelExt;
    QLineEdit* NewPolozka;
    QLineEdit* NewPoznamka;
    QPushButton* Write;
    QPushButton* Clear;
    QCheckBox* Zoradit;
    QCheckBox* DelPlaceBox;
    QLineEdit* Polozka;
    QLineEdit* Poznamka;
    QLabel* Label1;
    QLabel* NewPolozkaLabel;
    QLabel* NewPoznamkaLabel;
    QLabel* PolozkaLabel;
    QLabel* PoznamkaLabel;
    QFrame* Bevel1;
    QFrame* Bevel2;
    StatusBar* Status;
};
WindowControls ui(const TMainForm& form);

// Shows the window and waits until it is active, as a user finds it.
bool showWindow(TMainForm& form);

// The display list as the view shows it, top to bottom.
QStringList listedNames(const TMainForm& form);
QString selectedName(const TMainForm& form);

// Keys go to the control that has the focus, as the keyboard sends them.
QWidget* focused(TMainForm& form);
void press(TMainForm& form, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// Types text into the focused control character by character; characters
// outside ASCII arrive as a keyboard layout delivers them.
void typeText(TMainForm& form, const QString& text);

// The centre of a list row in the list's viewport coordinates.
QPoint rowCentre(TMainForm& form, int row);
