#include "AppTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "MainUnit.h"
#include "StatusBar.h"
#include "text/RecordText.h"
#include "ZoznamModel.h"
#include "ZoznamView.h"

void RecordingBoxes::show(Icon icon, const QString& caption, const QString& text) {
    shown.append({icon, caption, text});
    if (onShow)
        onShow();
}

bool RecordingBoxes::ask(Icon icon, const QString& caption, const QString& text, const QString& yes,
                         const QString& no, bool yesIsDefault) {
    shown.append({icon, caption, text, {yes, no}, yesIsDefault});
    if (onShow)
        onShow();
    return answer ? answer(shown.back()) : false;
}

ScratchDir::ScratchDir() : previous_(QDir::currentPath()) {
    if (!dir_.isValid() || !QDir::setCurrent(dir_.path()))
        qFatal("cannot make a scratch directory the current one");
}

ScratchDir::~ScratchDir() {
    QDir::setCurrent(previous_);
}

QStringList ScratchDir::entries() const {
    QStringList names = QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

namespace {

QByteArray recordOf(const QString& text) {
    std::optional<std::string> bytes = vrindel::toWindows1250(text.toStdU16String());
    if (!bytes || bytes->size() > vrindel::MaxTextLength)
        qFatal("not a record text: %s", qPrintable(text));
    QByteArray record(int(vrindel::ListRecordSize), '\0');
    record[0] = char(bytes->size());
    for (std::size_t i = 0; i < bytes->size(); ++i)
        record[int(i + 1)] = (*bytes)[i];
    return record;
}

QString textOf(const QByteArray& record) {
    const int length = std::min<int>(static_cast<unsigned char>(record[0]), 31);
    return QString::fromStdU16String(vrindel::fromWindows1250(std::string_view(record.constData() + 1, std::size_t(length))));
}

}  // namespace

QByteArray catalogueBytes(const QList<Record>& records) {
    QByteArray out;
    for (const Record& r : records)
        out += recordOf(r.first) + recordOf(r.second);
    return out;
}

QList<Record> parseCatalogue(const QByteArray& bytes) {
    QList<Record> out;
    for (qsizetype at = 0; at + 64 <= bytes.size(); at += 64)
        out.append({textOf(bytes.mid(at, 32)), textOf(bytes.mid(at + 32, 32))});
    return out;
}

void writeFile(const QString& name, const QByteArray& bytes) {
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(name));
}

QByteArray readFile(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeCatalogue(const QList<Record>& records) {
    writeFile(QStringLiteral("Zoznam.dat"), catalogueBytes(records));
}

QByteArray optionsBytes(bool zoradit, bool delPlaceBox, bool delExt) {
    QByteArray bytes;
    bytes.append(char(zoradit ? 1 : 0)).append(char(delPlaceBox ? 1 : 0)).append(char(delExt ? 1 : 0));
    return bytes;
}

void writeOptions(bool zoradit, bool delPlaceBox, bool delExt) {
    writeFile(QStringLiteral("Options.dat"), optionsBytes(zoradit, delPlaceBox, delExt));
}

WindowUnderTest::WindowUnderTest() = default;
WindowUnderTest::~WindowUnderTest() = default;

TMainForm& WindowUnderTest::open(const QList<Record>& records, bool zoradit, bool delPlaceBox, bool delExt) {
    writeCatalogue(records);
    writeOptions(zoradit, delPlaceBox, delExt);
    form_ = std::make_unique<TMainForm>(boxes_);
    return *form_;
}

namespace {

template <class Control>
Control* control(const TMainForm& form, const char* name) {
    auto* found = form.findChild<Control*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    if (!found)
        qFatal("the window has no %s of the kind the tests expect", name);
    return found;
}

}  // namespace

WindowControls ui(const TMainForm& form) {
    return {
        control<ZoznamView>(form, "Zoznam"),
        control<QCheckBox>(form, "DelExt"),
        control<QLineEdit>(form, "NewPolozka"),
        control<QLineEdit>(form, "NewPoznamka"),
        control<QPushButton>(form, "Write"),
        control<QPushButton>(form, "Clear"),
        control<QCheckBox>(form, "Zoradit"),
        control<QCheckBox>(form, "DelPlaceBox"),
        control<QLineEdit>(form, "Polozka"),
        control<QLineEdit>(form, "Poznamka"),
        control<QLabel>(form, "Label1"),
        control<QLabel>(form, "NewPolozkaLabel"),
        control<QLabel>(form, "NewPoznamkaLabel"),
        control<QLabel>(form, "PolozkaLabel"),
        control<QLabel>(form, "PoznamkaLabel"),
        control<QFrame>(form, "Bevel1"),
        control<QFrame>(form, "Bevel2"),
        control<StatusBar>(form, "Status"),
    };
}

bool showWindow(TMainForm& form) {
    form.show();
    form.activateWindow();
    return QTest::qWaitForWindowActive(&form);
}

QStringList listedNames(const TMainForm& form) {
    QStringList names;
    const ZoznamModel& model = form.model();
    for (int row = 0; row < model.rowCount(); ++row)
        names << model.data(model.index(row)).toString();
    return names;
}

QString selectedName(const TMainForm& form) {
    const QModelIndex current = ui(form).Zoznam->currentIndex();
    if (!current.isValid() || !ui(form).Zoznam->selectionModel()->isSelected(current))
        return {};
    return current.data().toString();
}

QWidget* focused(TMainForm& form) {
    QWidget* widget = form.focusWidget();
    return widget ? widget : &form;
}

void press(TMainForm& form, int key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(focused(form), Qt::Key(key), modifiers);
}

void typeText(TMainForm& form, const QString& text) {
    for (QChar c : text) {
        QWidget* target = focused(form);
        if (c.unicode() < 0x80) {
            QTest::keyClick(target, c.toLatin1());
            continue;
        }
        // A key of the layout that produces this character.
        const int key = c.toUpper().unicode();
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &down);
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &up);
    }
}

QPoint rowCentre(TMainForm& form, int row) {
    return ui(form).Zoznam->visualRect(form.model().index(row)).center();
}
