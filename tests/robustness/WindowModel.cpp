// Long random sequences of the window's own actions, sent as real key
// events, checked after every action against a plain reference: a list of
// records, three switches, the texts of the edits, the two buttons' states
// and the selected record. The three lists must stay aligned, the list must
// show the records in the right order, and a close and reopen must bring
// back exactly what the reference holds: no record lost, none made up.

#include "WindowTests.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "records/Catalogue.h"
#include "store/format/CatalogueFiles.h"
#include "text/Collation.h"
#include "WindowKit.h"
#include "ZoznamModel.h"

using namespace kit;

namespace {

constexpr int MaxLength = 31;

int compareNames(const QString& a, const QString& b) {
    return vrindel::Collation::instance().compare(bytesOf(a), bytesOf(b));
}

// What the window must show and the catalogue must hold, kept the plain way.
struct Reference {
    QList<Record> storage;
    bool zoradit = true, delPlaceBox = false, delExt = true;
    bool hasSelection = false;
    QString selected;                       // the selected record's name
    QString newName, newLocation, polozka, poznamka;
    bool writeEnabled = false, clearEnabled = false;

    QStringList display() const {
        if (!zoradit) {
            QStringList names;
            for (const Record& r : storage)
                names << r.first;
            return names;
        }
        std::vector<std::pair<std::string, QString>> keyed;
        for (const Record& r : storage)
            keyed.emplace_back(bytesOf(r.first), r.first);
        const vrindel::Collation& collation = vrindel::Collation::instance();
        std::stable_sort(keyed.begin(), keyed.end(),
                         [&](const auto& a, const auto& b) { return collation.compare(a.first, b.first) < 0; });
        QStringList names;
        for (const auto& k : keyed)
            names << k.second;
        return names;
    }
    int selectionIndex() const { return hasSelection ? int(display().indexOf(selected)) : -1; }
    int selectionIndexIn(const QStringList& shown) const { return hasSelection ? int(shown.indexOf(selected)) : -1; }
    bool listed(const QString& name) const {
        return std::any_of(storage.begin(), storage.end(), [&](const Record& r) { return compareNames(r.first, name) == 0; });
    }
    int storageIndexOf(const QString& name) const {
        for (int j = 0; j < storage.size(); ++j)
            if (storage[j].first == name)
                return j;
        return -1;
    }

    void select(const QString& name) {
        hasSelection = true;
        selected = name;
    }
    void showInfo() {
        if (storage.isEmpty()) {
            polozka.clear();
            poznamka.clear();
            return;
        }
        polozka = selected;
        poznamka = storage[storageIndexOf(selected)].second;
    }

    // The edits' change handler: strip a finished extension, then work out
    // which buttons can act.
    void entryChanged() {
        while (delExt) {
            const qsizetype n = newName.size();
            const QString last = n < 4 ? newName : newName.right(4);
            if (last.toLower() != u".zip" && last != u".rar" && last != u".exe")
                break;
            newName.chop(4);
        }
        clearEnabled = !newName.isEmpty() || !newLocation.isEmpty();
        writeEnabled = !newName.isEmpty() && !newLocation.isEmpty() && !listed(newName);
    }
    void setNewName(const QString& text) {
        if (text != newName) {
            newName = text;
            entryChanged();
        }
    }
    void setNewLocation(const QString& text) {
        if (text != newLocation) {
            newLocation = text;
            entryChanged();
        }
    }

    // Write rechecks the name: one listed meanwhile (a rename took it) adds
    // nothing and disables Write. Returns whether a record was added.
    bool write() {
        if (listed(newName)) {
            entryChanged();
            return false;
        }
        storage.append({newName, newLocation});
        select(newName);
        showInfo();
        setNewName({});
        if (delPlaceBox)
            setNewLocation({});
        entryChanged();
        return true;
    }
    void clear() {
        setNewName({});
        setNewLocation({});
        clearEnabled = false;
    }
    void rename() {
        if (polozka.isEmpty() || listed(polozka) || !hasSelection)
            return;
        storage[storageIndexOf(selected)].first = polozka;
        select(polozka);
        showInfo();
    }
    void deleteSelected() {
        if (storage.isEmpty())
            return;
        int i = selectionIndex();
        storage.removeAt(storageIndexOf(selected));
        const QStringList shown = display();
        if (i == shown.size())
            i -= 1;
        hasSelection = i >= 0;
        selected = i >= 0 ? shown[i] : QString();
        showInfo();
    }
    void moveTo(int row) {
        const QStringList shown = display();
        if (row < 0 || row >= shown.size() || row == selectionIndex())
            return;
        select(shown[row]);
        showInfo();
    }
    void reopen() {
        newName.clear();
        newLocation.clear();
        writeEnabled = clearEnabled = false;
        const QStringList shown = display();
        hasSelection = !shown.isEmpty();
        selected = hasSelection ? shown.front() : QString();
        showInfo();
    }
};

QString statusCount(int n) {
    return QStringLiteral(" Počet záznamov: %1").arg(n);
}

// The first difference between the window and the reference, or nothing.
QString difference(TMainForm& form, const Reference& ref) {
    const vrindel::Catalogue& c = form.catalogue();
    if (c.storageCount() != c.displayCount() || c.storageCount() != c.recordCount() ||
        form.model().rowCount() != c.displayCount())
        return QStringLiteral("the lists are not aligned: storage %1, display %2, count %3, view %4")
            .arg(c.storageCount())
            .arg(c.displayCount())
            .arg(c.recordCount())
            .arg(form.model().rowCount());
    const QList<Record> stored = storedRecords(form);
    if (stored != ref.storage) {
        QString what = QStringLiteral("the catalogue holds %1 records, the reference %2").arg(stored.size()).arg(ref.storage.size());
        for (qsizetype j = 0; j < std::min(stored.size(), ref.storage.size()); ++j)
            if (stored[j] != ref.storage[j])
                return what + QStringLiteral("; record %1 is \"%2\" in \"%3\", must be \"%4\" in \"%5\"")
                                  .arg(j)
                                  .arg(stored[j].first, stored[j].second, ref.storage[j].first, ref.storage[j].second);
        return what;
    }
    const QStringList shown = ref.display();
    const int selection = ref.selectionIndexIn(shown);
    if (displayedNames(form) != shown)
        return QStringLiteral("the list shows [%1], must show [%2]").arg(displayedNames(form).join(u'|'), shown.join(u'|'));
    if (c.selection() != selection)
        return QStringLiteral("selection %1, must be %2").arg(c.selection()).arg(selection);
    if (c.selection() >= 0 && ui(form).Zoznam->currentIndex().row() != c.selection())
        return QStringLiteral("the view marks row %1, the selection is %2").arg(ui(form).Zoznam->currentIndex().row()).arg(c.selection());
    const std::pair<QLineEdit*, const QString*> edits[] = {
        {ui(form).NewPolozka, &ref.newName}, {ui(form).NewPoznamka, &ref.newLocation}, {ui(form).Polozka, &ref.polozka}, {ui(form).Poznamka, &ref.poznamka}};
    for (const auto& [edit, text] : edits) {
        if (edit->text().size() > MaxLength)
            return QStringLiteral("an edit holds %1 characters").arg(edit->text().size());
        if (edit->text() != *text)
            return QStringLiteral("%1 reads \"%2\", must read \"%3\"").arg(edit->accessibleName(), edit->text(), *text);
    }
    if (ui(form).Write->isEnabled() != ref.writeEnabled)
        return QStringLiteral("Write is %1").arg(ui(form).Write->isEnabled() ? "enabled" : "disabled");
    if (ui(form).Clear->isEnabled() != ref.clearEnabled)
        return QStringLiteral("Clear is %1").arg(ui(form).Clear->isEnabled() ? "enabled" : "disabled");
    if (ui(form).Zoradit->isChecked() != ref.zoradit || ui(form).DelPlaceBox->isChecked() != ref.delPlaceBox ||
        ui(form).DelExt->isChecked() != ref.delExt)
        return QStringLiteral("a check box is in the wrong state");
    if (ui(form).Status->panelText(0) != statusCount(int(ref.storage.size())))
        return QStringLiteral("status panel 0 reads \"%1\"").arg(ui(form).Status->panelText(0));
    const QString position = ref.storage.isEmpty()
                                 ? QStringLiteral("0 / 0")
                                 : QStringLiteral("%1 / %2").arg(selection + 1).arg(ref.storage.size());
    if (ui(form).Status->panelText(1) != position)
        return QStringLiteral("status panel 1 reads \"%1\", must read \"%2\"").arg(ui(form).Status->panelText(1), position);
    return {};
}

// Characters a user of the program types: letters of both cases, Slovak
// letters, digits, a few signs.
const QString Alphabet = QStringLiteral("abcdefghijklmnoprstuvyzABCDEHKLMOPSTZáäčďéíľĺňóôŕšťúýžÁČĎÉĽŇÓŠŤÚÝŽ0123456789 .-_()");
const QStringList Extensions = {QStringLiteral(".zip"), QStringLiteral(".ZIP"), QStringLiteral(".Zip"), QStringLiteral(".rar"),
                                QStringLiteral(".RAR"), QStringLiteral(".exe"), QStringLiteral(".Exe"), QStringLiteral(".zip.rar"),
                                QStringLiteral(".exe.zip")};

class Driver {
public:
    Driver(std::uint64_t seed, ModelFigures& figures) : random_(seed), figures_(figures) {}

    void run(long actions);

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    bool chance(int percent) { return pick(100) < percent; }

    QString randomText(int minLength, int maxLength) {
        QString text;
        const int n = minLength + pick(maxLength - minLength + 1);
        for (int i = 0; i < n; ++i)
            text += Alphabet[pick(int(Alphabet.size()))];
        return text;
    }
    QString randomName() {
        if (!ref_.storage.isEmpty() && chance(10)) {
            // A name that is listed already, in another letter case.
            QString name = ref_.storage[pick(int(ref_.storage.size()))].first;
            return chance(50) ? name.toUpper() : name.toLower();
        }
        QString name = randomText(1, 12);
        if (chance(35))
            name += Extensions[pick(int(Extensions.size()))];
        return name;
    }

    void open();
    void closeAndReopen();
    void check();
    void note(const QString& action);

    // Typing into an edit: with its whole text selected (the first key
    // replaces it) or at its end.
    void typeInto(QWidget* edit, QString& modelText, const QString& text, bool replace, bool entry);
    void enter(Qt::KeyboardModifiers modifiers);

    void actTypeName();
    void actTypeLocation();
    void actBackspace();
    void actEnter();
    void actEscape();
    void actDelete();
    void actMove();
    void actRename();
    void actToggleSort();
    void actToggleDelExt();
    void actToggleDelPlaceBox();

    std::mt19937_64 random_;
    ModelFigures& figures_;
    Reference ref_;
    RecordingBoxes boxes_;
    std::unique_ptr<TMainForm> form_;
    std::deque<QString> recent_;           // the last actions, for a failure message
    long step_ = 0;
};

void Driver::note(const QString& action) {
    recent_.push_back(QStringLiteral("%1: %2").arg(step_).arg(action));
    if (recent_.size() > 12)
        recent_.pop_front();
}

void Driver::check() {
    QString why = difference(*form_, ref_);
    if (why.isEmpty() && !boxes_.shown.isEmpty())
        why = QStringLiteral("a message box was shown: ") + boxes_.shown.front().text;
    if (!why.isEmpty()) {
        QString log;
        for (const QString& line : recent_)
            log += QStringLiteral("\n    ") + line;
        QFAIL(qPrintable(QStringLiteral("after action %1 (seed %2): %3\n  last actions:%4")
                             .arg(step_)
                             .arg(figures_.seed)
                             .arg(why, log)));
    }
}

void Driver::open() {
    form_ = openWindow(boxes_);
    ref_.reopen();
}

void Driver::closeAndReopen() {
    note(QStringLiteral("close and reopen"));
    QVERIFY2(form_->close(), "the window did not close");
    form_.reset();
    ++figures_.reopens;
    // What the file holds is exactly what the reference holds.
    const std::optional<QByteArray> saved = fileBytes(vrindel::ListFileName);
    QVERIFY(saved.has_value());
    const QByteArray expected = catalogueBytes(ref_.storage);
    if (*saved != expected) {
        const qsizetype held = saved->size() / 64;
        figures_.recordsLost += std::max<qsizetype>(0, ref_.storage.size() - held);
        QFAIL(qPrintable(QStringLiteral("after action %1 (seed %2): the saved catalogue holds %3 records, the reference %4")
                             .arg(step_)
                             .arg(figures_.seed)
                             .arg(held)
                             .arg(ref_.storage.size())));
    }
    QVERIFY(fileBytes(vrindel::OptionsFileName) == optionsBytes(ref_.zoradit, ref_.delPlaceBox, ref_.delExt));
    open();
}

void Driver::typeInto(QWidget* edit, QString& modelText, const QString& text, bool replace, bool entry) {
    auto* line = static_cast<QLineEdit*>(edit);
    press(*form_, replace ? Qt::Key_A : Qt::Key_End, replace ? Qt::ControlModifier : Qt::NoModifier);
    bool selected = replace && !line->text().isEmpty();
    for (QChar c : text) {
        QString next;
        if (selected)
            next = QString(c);
        else if (modelText.size() < MaxLength)
            next = modelText + c;
        else
            next = modelText;   // the edit is full
        selected = false;
        typeChar(*form_, c);
        if (!entry) {
            modelText = next;
        } else if (edit == ui(*form_).NewPolozka) {
            ref_.setNewName(next);
        } else {
            ref_.setNewLocation(next);
        }
    }
}

void Driver::actTypeName() {
    // A replacement equal to the text already there would change nothing;
    // the edit's change handler would not run, which the reference leaves aside.
    QString name = randomName();
    bool replace = chance(60);
    if (replace && ref_.newName.size() == 1 && name.startsWith(ref_.newName))
        replace = false;
    note(QStringLiteral("type name \"%1\"%2").arg(name, replace ? " over the old" : ""));
    press(*form_, Qt::Key_N, Qt::AltModifier);
    typeInto(ui(*form_).NewPolozka, ref_.newName, name, replace, true);
}

void Driver::actTypeLocation() {
    QString location = chance(20) && !ref_.storage.isEmpty() ? ref_.storage[pick(int(ref_.storage.size()))].second
                                                            : randomText(1, 10);
    bool replace = chance(70);
    if (replace && ref_.newLocation.size() == 1 && location.startsWith(ref_.newLocation))
        replace = false;
    note(QStringLiteral("type location \"%1\"%2").arg(location, replace ? " over the old" : ""));
    press(*form_, Qt::Key_U, Qt::AltModifier);
    typeInto(ui(*form_).NewPoznamka, ref_.newLocation, location, replace, true);
}

void Driver::actBackspace() {
    const bool name = chance(60);
    const int times = 1 + pick(4);
    note(QStringLiteral("%1 backspaces in the %2").arg(times).arg(name ? "name" : "location"));
    press(*form_, name ? Qt::Key_N : Qt::Key_U, Qt::AltModifier);
    press(*form_, Qt::Key_End);
    for (int i = 0; i < times; ++i) {
        press(*form_, Qt::Key_Backspace);
        if (name)
            ref_.setNewName(ref_.newName.chopped(ref_.newName.isEmpty() ? 0 : 1));
        else
            ref_.setNewLocation(ref_.newLocation.chopped(ref_.newLocation.isEmpty() ? 0 : 1));
    }
}

void Driver::enter(Qt::KeyboardModifiers modifiers) {
    QWidget* at = form_->focusWidget();
    press(*form_, Qt::Key_Return, modifiers);
    if (modifiers == Qt::NoModifier && ref_.writeEnabled) {
        ++(ref_.write() ? figures_.added : figures_.refusedAdds);
    } else if (at == ui(*form_).Polozka) {
        const int before = int(ref_.storage.size());
        const QString old = ref_.selected;
        ref_.rename();
        if (ref_.selected != old && int(ref_.storage.size()) == before)
            ++figures_.renamed;
    }
}

void Driver::actEnter() {
    // Where the Enter is pressed: in either entry edit, in the list, or in
    // the selected record's name.
    QWidget* places[] = {ui(*form_).NewPolozka, ui(*form_).NewPoznamka, ui(*form_).Zoznam, ui(*form_).Polozka};
    QWidget* place = places[pick(4)];
    note(QStringLiteral("Enter in %1").arg(place->accessibleName().isEmpty() ? QStringLiteral("the list") : place->accessibleName()));
    if (place == ui(*form_).Zoznam)
        press(*form_, Qt::Key_Z, Qt::AltModifier);
    else if (place == ui(*form_).NewPolozka)
        press(*form_, Qt::Key_N, Qt::AltModifier);
    else if (place == ui(*form_).NewPoznamka)
        press(*form_, Qt::Key_U, Qt::AltModifier);
    else
        tabInto(place);
    enter(Qt::NoModifier);
}

void Driver::actEscape() {
    note(QStringLiteral("Escape"));
    press(*form_, Qt::Key_Escape);
    if (ref_.clearEnabled)
        ref_.clear();
}

void Driver::actDelete() {
    note(QStringLiteral("Delete in the list"));
    press(*form_, Qt::Key_Z, Qt::AltModifier);
    press(*form_, Qt::Key_Delete);
    if (!ref_.storage.isEmpty())
        ++figures_.deleted;
    ref_.deleteSelected();
}

void Driver::actMove() {
    const Qt::Key keys[] = {Qt::Key_Up, Qt::Key_Down, Qt::Key_Home, Qt::Key_End};
    const Qt::Key key = keys[pick(4)];
    note(QStringLiteral("key %1 in the list").arg(QKeySequence(key).toString()));
    press(*form_, Qt::Key_Z, Qt::AltModifier);
    press(*form_, key);
    const int n = int(ref_.storage.size()), i = ref_.selectionIndex();
    switch (key) {
    case Qt::Key_Up:
        // The details are shown before the list moves, and again after.
        ref_.showInfo();
        ref_.moveTo(i - 1);
        break;
    case Qt::Key_Down:
        ref_.showInfo();
        ref_.moveTo(i + 1);
        break;
    case Qt::Key_Home: ref_.moveTo(0); break;
    default: ref_.moveTo(n - 1); break;
    }
}

void Driver::actRename() {
    // Now and then the name waiting in the entry edit: Write does not hear
    // of the rename and stays enabled for a name that is now listed.
    QString name = chance(85) ? randomText(1, 12) : (ref_.polozka.isEmpty() ? randomName() : ref_.polozka.toUpper());
    if (!ref_.newName.isEmpty() && chance(15))
        name = ref_.newName;
    const bool shift = chance(70);
    note(QStringLiteral("rename to \"%1\" with %2Enter").arg(name, shift ? "Shift+" : ""));
    tabInto(ui(*form_).Polozka);
    typeInto(ui(*form_).Polozka, ref_.polozka, name, true, false);
    enter(shift ? Qt::ShiftModifier : Qt::NoModifier);
}

void Driver::actToggleSort() {
    note(QStringLiteral("Alt+O: sorting %1").arg(ref_.zoradit ? "off" : "on"));
    press(*form_, Qt::Key_O, Qt::AltModifier);
    ref_.zoradit = !ref_.zoradit;
    ++figures_.sortSwitches;
}

void Driver::actToggleDelExt() {
    note(QStringLiteral("Alt+M: stripping %1").arg(ref_.delExt ? "off" : "on"));
    press(*form_, Qt::Key_M, Qt::AltModifier);
    ref_.delExt = !ref_.delExt;
}

void Driver::actToggleDelPlaceBox() {
    note(QStringLiteral("Space on DelPlaceBox"));
    tabInto(ui(*form_).DelPlaceBox);
    press(*form_, Qt::Key_Space);
    ref_.delPlaceBox = !ref_.delPlaceBox;
}

void Driver::run(long actions) {
    // A first catalogue written by hand, unsorted in the file.
    ref_.storage = {{QStringLiteral("Zebra.zip"), QStringLiteral("CD 1")},
                    {QStringLiteral("čaj"), QStringLiteral("Polica")},
                    {QStringLiteral("Auto"), QStringLiteral("DVD 2")},
                    {QStringLiteral("cesta"), QStringLiteral("")}};
    writeFile(vrindel::ListFileName, catalogueBytes(ref_.storage));
    writeFile(vrindel::OptionsFileName, optionsBytes(ref_.zoradit, ref_.delPlaceBox, ref_.delExt));
    open();
    check();
    if (QTest::currentTestFailed())
        return;

    for (step_ = 1; step_ <= actions; ++step_) {
        const int n = int(ref_.storage.size());
        // The list grows to a few dozen records and stays there: long
        // enough for order and selection to matter, short enough for a
        // check after every action.
        const int deleteWeight = n < 20 ? 2 : n <= 50 ? 7 : 30;
        const std::pair<int, void (Driver::*)()> weighted[] = {
            {18, &Driver::actTypeName},   {12, &Driver::actTypeLocation},   {5, &Driver::actBackspace},
            {16, &Driver::actEnter},      {4, &Driver::actEscape},          {deleteWeight, &Driver::actDelete},
            {10, &Driver::actMove},       {8, &Driver::actRename},          {4, &Driver::actToggleSort},
            {2, &Driver::actToggleDelExt}, {3, &Driver::actToggleDelPlaceBox},
        };
        int total = 1;   // the close and reopen
        for (const auto& w : weighted)
            total += w.first;
        int roll = pick(total);
        bool done = false;
        for (const auto& [weight, act] : weighted) {
            if (roll < weight) {
                (this->*act)();
                done = true;
                break;
            }
            roll -= weight;
        }
        if (!done)
            closeAndReopen();
        if (QTest::currentTestFailed())
            return;
        ++figures_.actions;
        check();
        if (QTest::currentTestFailed())
            return;
    }
    closeAndReopen();
    if (!QTest::currentTestFailed())
        check();
}

}  // namespace

void runRandomModel(long actions, ModelFigures& figures) {
    ScratchDir folder;
    Driver driver(figures.seed, figures);
    driver.run(actions);
}
