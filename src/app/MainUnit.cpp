// TMainForm: the window's construction and wiring of its parts, the guard
// every event runs in, and the handlers, in the order of what the window does.
#include "MainUnit.h"
#include "SaveNotices.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include <cstdio>
#include <stdexcept>
#include <utility>

#include "Errors.h"
#include "MessageBoxes.h"
#include "text/RecordText.h"
#include "text/TerminalText.h"
#include "RecordTextInput.h"
#include "StatusBar.h"
#include "WindowFrame.h"
#include "ZoznamModel.h"
#include "ZoznamView.h"

namespace {

// The window's own messages about its files, UTF-8.
constexpr const char* AlreadyOpenText = "Zoznam v tomto prie\u010dinku je u\u017e otvoren\u00fd v inom okne programu.";
constexpr const char* SaveFailedQuestion = "Zoznam sa nepodarilo ulo\u017ei\u0165. Zavrie\u0165 program bez ulo\u017eenia?";
constexpr const char* OptionsFailedQuestion =
    "Nastavenia (Options.dat) sa nepodarilo ulo\u017ei\u0165. Zavrie\u0165 program bez ulo\u017eenia?";
constexpr const char* UnreadQuestion =
    "S\u00fabor so zoznamom sa nepodarilo pre\u010d\u00edta\u0165, zmeny sa neulo\u017eia. Zavrie\u0165 program?";
constexpr const char* HalfSavedQuestion =
    "Zoznam m\u00f4\u017ee by\u0165 ulo\u017een\u00fd len s\u010dasti a k\u00fdm sa jeho \u017eurn\u00e1l "
    "nevyrie\u0161i, zmeny sa neulo\u017eia. Zavrie\u0165 program?";
constexpr const char* CloseWithoutSaving = "Zavrie\u0165 bez ulo\u017eenia";
constexpr const char* KeepOpen = "Necha\u0165 otvoren\u00e9";
constexpr const char* MergeCopies = "Zl\u00fa\u010di\u0165";
constexpr const char* LeaveCopies = "Necha\u0165 tak";

}  // namespace

// --- TMainForm: construction ---------------------------------------------------------

TMainForm::TMainForm(MessageBoxes& boxes, vrindel::FileSystem& fs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      boxes_(boxes),
      store_({}, fs) {
    setWindowTitle(applicationTitle());
    setFixedSize(569, 284);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    model_ = buildControls(this, list_.host(), catalogue_);
    list_.bind(Zoznam, model_);
    ListWindow& listWindow = *this;
    actions_ = std::make_unique<ZoznamActions>(listWindow, catalogue_, history_, list_, *Zoradit, this);
    wireSignals();
    KeyTarget& keyTarget = *this;
    keyboard_ = std::make_unique<KeyRouter>(keyTarget, keyControls(this), *actions_);

    // One window per catalogue: two would each save over the other's records.
    if (store_.open().lock == vrindel::LockState::Busy) {
        refused_ = true;
        boxes_.warning(QString::fromUtf8(vrindel::FileMessageCaption), QString::fromUtf8(AlreadyOpenText));
        return;
    }
    tellOfRecovery();
    if (run([this] { FormCreate(); }))
        run([this] { mergeConflictCopies(); });
    // Unless a handler put the focus elsewhere, the first control in tab
    // order has it when the window opens.
    if (!focusWidget())
        Zoznam->setFocus(Qt::OtherFocusReason);
}

TMainForm::~TMainForm() {
    // Keys stop reaching the window before its controls go.
    keyboard_.reset();
}

void TMainForm::wireSignals() {
    connect(NewPolozka, &QLineEdit::textChanged, this, [this] { run([this] { NewPolozkaChange(); }); });
    connect(NewPoznamka, &QLineEdit::textChanged, this, [this] { run([this] { NewPolozkaChange(); }); });
    connect(Write, &QPushButton::clicked, this, [this] { run([this] { WriteClick(); }); });
    connect(Clear, &QPushButton::clicked, this, [this] { run([this] { ClearClick(); }); });
    // A check box runs its click handler whenever its state changes, by the
    // mouse, the space bar or an accelerator; a handler's setting goes
    // through setCheck instead.
    connect(Zoradit, &QCheckBox::toggled, this, [this] { run([this] { ZoraditClick(); }); });
    connect(DelExt, &QCheckBox::toggled, this, [this] { run([this] { DelExtClick(); }); });

    // The list's events; its menu is the list's further actions' own.
    connect(&list_, &ZoznamSync::mousePressed, this, [this](Qt::MouseButton b) { run([&] { ZoznamMouseDown(b); }); });
    connect(&list_, &ZoznamSync::mouseMoved, this, [this] { run([this] { ZoznamMouseMove(); }); });
    connect(&list_, &ZoznamSync::mouseReleased, this, [this] { run([this] { ZoznamMouseUp(); }); });
    connect(&list_, &ZoznamSync::menuRequested, actions_.get(), &ZoznamActions::ZoznamContextMenu);
    // A large catalogue's name order may still be worked out when the first
    // rows are shown from the few names that come first: it is waited for
    // once they are on the screen, before the user's first key is handled.
    connect(Zoznam, &ZoznamView::firstPainted, this, [this] { catalogue_.prepare(); }, Qt::QueuedConnection);
}

// --- The guard and nesting ----------------------------------------------------------------

bool TMainForm::run(const std::function<void()>& handler) {
    return guard_.run(handler);
}

void TMainForm::setEditText(QLineEdit* edit, const QString& text) {
    if (edit->text() == text)
        return;
    {
        const QSignalBlocker block(edit);
        setRecordText(edit, text);
    }
    if (edit == NewPolozka || edit == NewPoznamka)
        NewPolozkaChange();
}

void TMainForm::setCheck(QCheckBox* box, bool on) {
    if (box->isChecked() == on)
        return;
    {
        const QSignalBlocker block(box);
        box->setChecked(on);
    }
    runClickHandler(box);
}

void TMainForm::runClickHandler(QCheckBox* box) {
    if (box == Zoradit)
        ZoraditClick();
    else if (box == DelExt)
        DelExtClick();
}

void TMainForm::setControlEnabled(QWidget* control, bool on) {
    if (control->isEnabled() == on)
        return;
    const bool hadFocus = focusWidget() == control;
    control->setEnabled(on);
    if (!on && hadFocus)
        setFocus(Qt::OtherFocusReason);
}

void TMainForm::focusControl(QWidget* control) {
    if (!control->isEnabled())
        throw std::runtime_error("Cannot focus a disabled or invisible window");
    // The control becomes the window's active control even while the window
    // is hidden; the focusing itself fails then. An edit that has the focus
    // already keeps its caret and selection.
    const bool had = focusWidget() == control;
    control->setFocus(Qt::ShortcutFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control); edit && !had)
        edit->selectAll();
    if (!isVisible())
        throw std::runtime_error("Cannot focus a disabled or invisible window");
}

// --- The display list and the status bar -------------------------------------------------

void TMainForm::showSelection() {
    list_.showSelection();
}

void TMainForm::setStatusCount() {
    Status->setPanelText(0, QStringLiteral(" Počet záznamov: %1").arg(catalogue_.recordCount()));
}

void TMainForm::setStatusPosition() {
    if (catalogue_.displayCount() == 0)
        Status->setPanelText(1, QStringLiteral("0 / 0"));
    else
        setStatusSelection();
}

void TMainForm::setStatusSelection() {
    Status->setPanelText(1, QStringLiteral("%1 / %2").arg(catalogue_.selection() + 1).arg(catalogue_.recordCount()));
}

// --- File messages ------------------------------------------------------------------------

void TMainForm::listFileMissing() {
    boxes_.warning(QString::fromUtf8(vrindel::FileMessageCaption), QString::fromUtf8(vrindel::ListMissingText));
}

void TMainForm::tellOfRecovery() {
    const vrindel::Opening& opening = store_.opening();
    const QString caption = QString::fromUtf8(vrindel::FileMessageCaption);
    if (!opening.refusedJournals.empty()) {
        QStringList journals;
        for (const vrindel::RefusedJournal& refused : opening.refusedJournals)
            journals << QString::fromStdString(refused.journal);
        boxes_.warning(caption, refusedJournalsText(journals));
    }
    if (!opening.rolledBack && !opening.rollbackStuck)
        return;
    const QString file = QString::fromStdString(store_.cataloguePath());
    // Stuck, the catalogue is not saved over until the journal's owner (or
    // root) opens it: the half-written file would stay so for good.
    if (opening.rollbackStuck)
        boxes_.warning(caption, notRolledBackText(file, stuckReasonText(QString::fromStdString(opening.rollbackReason),
                                                                        QString::fromStdString(opening.journal),
                                                                        QString::fromStdString(opening.journalOwner))));
    else
        boxes_.information(caption, rolledBackText(file));
}

void TMainForm::tellOfConflicts(const vrindel::SaveReport& report) {
    if (report.conflicts)
        boxes_.information(QString::fromUtf8(vrindel::FileMessageCaption),
                           conflictsText(report.conflicts, QString::fromStdString(report.conflictFile)));
}

void TMainForm::listFileDamaged() {
    boxes_.error(QString::fromUtf8(vrindel::FileMessageCaption), QString::fromUtf8(vrindel::ListDamagedText));
}

// --- Start-up and close ---------------------------------------------------------------------

void TMainForm::FormCreate() {
    setControlEnabled(Write, false);
    setControlEnabled(Clear, false);
    {
        const ModelReset reset(*model_, syncing_);
        catalogue_.clear();
        history_.clear();
    }
    showSelection();

    // The store remembers what was read, so that a close never writes over
    // a catalogue it could not read.
    store_.ensureCatalogueFile(*this);
    store_.ensureOptionsFile();
    store_.readOptions([this](vrindel::Switch which, bool on) {
        switch (which) {
        case vrindel::Switch::Zoradit:
            setCheck(Zoradit, on);
            break;
        case vrindel::Switch::DelPlaceBox:
            setCheck(DelPlaceBox, on);
            break;
        case vrindel::Switch::DelExt:
            setCheck(DelExt, on);
            break;
        }
    });
    ZoraditClick();
    catalogue_.setRecordCount(0);
    {
        const ModelReset reset(*model_, syncing_);
        // A catalogue read only in part is kept on disk like one that could
        // not be opened: writing the part back would lose the rest.
        store_.readCatalogue(catalogue_, *this);
    }
    catalogue_.setSelection(0);
    showSelection();
    ShowInfo();
    DragSelecting = false;
    setStatusCount();
    setStatusPosition();
}

void TMainForm::mergeConflictCopies() {
    // Only into a catalogue that was read whole: one that cannot be saved
    // could not keep what a copy gives back.
    if (!store_.catalogueRead() || !store_.catalogueSavable())
        return;
    const vrindel::CatalogueStore::CopyOffer offer = store_.offeredCopies(catalogue_);
    if (offer.lacking == 0 && offer.changing == 0)
        return;
    const QString question = offer.lacking ? copiesQuestion(offer.lacking, offer.paths.size())
                                           : copiesChangesQuestion(offer.changing, offer.paths.size());
    if (!boxes_.ask(MessageBoxes::Icon::Information, applicationTitle(), question, QString::fromUtf8(MergeCopies),
                    QString::fromUtf8(LeaveCopies), true))
        return;

    vrindel::CopyMerge merged;
    {
        const ModelReset reset(*model_, syncing_);
        merged = store_.mergeCopies(catalogue_, offer.paths, true);
    }
    vrindel::warnUnsyncedFolder("vrindel", merged.save.unsyncedFolder);
    catalogue_.setSelection(0);
    showSelection();
    ShowInfo();
    setStatusCount();
    setStatusPosition();
    if (merged.conflicts)
        boxes_.information(QString::fromUtf8(vrindel::FileMessageCaption),
                           copiesConflictsText(merged.conflicts, QString::fromStdString(merged.conflictFile)));
    tellOfConflicts(merged.save);
    if (!merged.save.ok())
        throw merged.save.failures.front().error;
}

vrindel::Switches TMainForm::switches() const {
    return {Zoradit->isChecked(), DelPlaceBox->isChecked(), DelExt->isChecked()};
}

vrindel::SaveReport TMainForm::saveAll() {
    // A catalogue that exists but could not be read at start-up is left as
    // it is: the empty list shown instead is not the catalogue. Records
    // another program added meanwhile are kept.
    vrindel::SaveReport report = store_.saveAll(catalogue_, switches());
    vrindel::warnUnsyncedFolder("vrindel", report.unsyncedFolder);
    return report;
}

void TMainForm::FormClose() {
    lastClose_ = {};
    lastClose_ = saveAll();
    lastSaveFailed_ = !lastClose_.ok();
    tellOfConflicts(lastClose_);
    if (!lastClose_.ok())
        throw lastClose_.failures.front().error;
}

void TMainForm::SessionEnding() {
    if (ending_ || refused_)
        return;
    ending_ = true;
    // Nobody is left to read a box: what could not be saved goes to the
    // terminal the program was started from, in one line.
    QStringList unsaved;
    if (!store_.catalogueSavable() && catalogue_.changed())
        unsaved << QStringLiteral("%1 (it could not be read at start-up)").arg(QString::fromUtf8(vrindel::ListFileName));
    try {
        unsaved << tellOfSaveOnTerminal(saveAll());
    } catch (const std::exception& e) {
        unsaved << QString::fromUtf8(e.what());
    }
    lastSaveFailed_ = !unsaved.isEmpty();
    if (!unsaved.isEmpty())
        std::fprintf(stderr, "vrindel: not saved: %s\n",
                     vrindel::printable(unsaved.join(QStringLiteral(", ")).toLocal8Bit().toStdString()).c_str());
    close();
}

bool TMainForm::userClosesWithoutSaving(const char* text) {
    return boxes_.ask(MessageBoxes::Icon::Warning, applicationTitle(), QString::fromUtf8(text),
                      QString::fromUtf8(CloseWithoutSaving), QString::fromUtf8(KeepOpen));
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (ending_ || refused_) {
        event->accept();
        return;
    }
    // Changes to a catalogue that could not be read cannot be saved; they
    // are not dropped without asking.
    if (!unsavedAccepted_ && !store_.catalogueSavable() && catalogue_.changed()) {
        if (!userClosesWithoutSaving(store_.opening().rollbackStuck ? HalfSavedQuestion : UnreadQuestion)) {
            event->ignore();
            return;
        }
        unsavedAccepted_ = true;
    }
    // A close whose save fails keeps the window open, so that the user can
    // free space or mend permissions; the next one starts again from the
    // first step. From the second failure on, the user may give up.
    if (run([this] { FormClose(); })) {
        event->accept();
        return;
    }
    // The question names what failed: the switches may fail alone.
    const bool optionsAlone = !lastClose_.ok() && !lastClose_.failure(vrindel::StoredFile::Catalogue);
    if (++failedCloses_ >= 2 && userClosesWithoutSaving(optionsAlone ? OptionsFailedQuestion : SaveFailedQuestion))
        event->accept();
    else
        event->ignore();
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The first position: centred on the primary screen by the outer frame.
    if (!std::exchange(positioned_, true))
        centreByFrame(this);
}

// --- Browsing --------------------------------------------------------------------------------

void TMainForm::ShowInfo() {
    if (catalogue_.displayCount() == 0) {
        setEditText(Polozka, QString());
        setEditText(Poznamka, QString());
        Status->setPanelText(1, QStringLiteral("0 / 0"));
        return;
    }
    const int i = catalogue_.selection();
    setEditText(Polozka, fromRecord(catalogue_.displayAt(i)));
    setEditText(Poznamka, fromRecord(catalogue_.locationOfDisplay(i)));
    setStatusSelection();
}

void TMainForm::ZoznamKeyDown(int key) {
    if (key == vk::Up || key == vk::Down) {
        // The list moves its selection after this, which shows the details
        // once more, of the record then selected.
        ShowInfo();
        return;
    }
    if (key != vk::Delete || catalogue_.displayCount() == 0)
        return;

    int i = catalogue_.selection();
    // Everything that can fail is checked before the view hears of a
    // removal.
    const int j = catalogue_.findInStorage(catalogue_.displayAt(i).view());
    if (j < 0)
        throw vrindel::ListError::outOfBounds(j);
    list_.deleteAt(i);
    setStatusCount();
    if (i == catalogue_.displayCount())
        i -= 1;
    catalogue_.setSelection(i);
    showSelection();
    ShowInfo();
}

void TMainForm::ZoznamMouseDown(Qt::MouseButton button) {
    if (button != Qt::LeftButton)
        return;
    DragSelecting = true;
    ShowInfo();
}

void TMainForm::ZoznamMouseMove() {
    if (DragSelecting)
        ShowInfo();
}

void TMainForm::ZoznamMouseUp() {
    DragSelecting = false;
}

// --- Adding ----------------------------------------------------------------------------------

void TMainForm::NewPolozkaChange() {
    if (DelExt->isChecked()) {
        const QString text = NewPolozka->text();
        const qsizetype n = text.size();
        // With fewer than four characters the "last four" are the whole
        // text, which matches none of the three.
        const QString last = n < 4 ? text : text.right(4);
        if (last.toLower() == u".zip" || last == u".rar" || last == u".exe") {
            // Runs this handler again at once, which strips what the shorter
            // text now ends in (a.zip.rar becomes a).
            setEditText(NewPolozka, text.left(n - 4));
            NewPolozka->setCursorPosition(int(NewPolozka->text().size()));
            NewPolozka->deselect();
        }
    }
    const bool name = !NewPolozka->text().isEmpty();
    const bool location = !NewPoznamka->text().isEmpty();
    setControlEnabled(Clear, name || location);
    setControlEnabled(Write, name && location && catalogue_.findInDisplay(toRecord(NewPolozka->text())) < 0);
}

void TMainForm::NewPolozkaKeyDown(int key) {
    if (key == vk::Return && !NewPolozka->text().isEmpty())
        focusControl(NewPoznamka);
}

void TMainForm::ClearClick() {
    setEditText(NewPolozka, QString());
    setEditText(NewPoznamka, QString());
    setControlEnabled(Clear, false);
}

void TMainForm::WriteClick() {
    const std::string name = toRecord(NewPolozka->text());
    const std::string location = toRecord(NewPoznamka->text());
    // Write's state may lag behind a rename onto the waiting name: the name
    // is checked again, and a listed one adds nothing and disables Write.
    if (catalogue_.findInDisplay(name) >= 0) {
        NewPolozkaChange();
        return;
    }
    list_.add(name, location);
    showSelection();
    ShowInfo();
    setStatusCount();
    setStatusPosition();
    setEditText(NewPolozka, QString());
    if (DelPlaceBox->isChecked())
        setEditText(NewPoznamka, QString());
    NewPolozkaChange();
    focusControl(NewPolozka);
}

void TMainForm::DelExtClick() {
    focusControl(NewPolozka);
}

// --- Sorted view -----------------------------------------------------------------------------

void TMainForm::ZoraditClick() {
    list_.setSorted(Zoradit->isChecked());
    showSelection();
    setStatusSelection();
}

// --- Deleting and renaming ---------------------------------------------------------------------

void TMainForm::PolozkaKeyDown(int key) {
    if (key != vk::Return)
        return;
    const QString text = Polozka->text();
    if (text.isEmpty())
        return;
    const std::string name = toRecord(text);
    if (catalogue_.findInDisplay(name) >= 0)
        return;
    const int i = catalogue_.selection();
    if (i < 0)
        return;

    // The record keeps its location: the one Poznamka shows, which cannot
    // be edited.
    list_.renameAt(i, name);
    catalogue_.setSelection(catalogue_.findInDisplay(name));
    showSelection();
    ShowInfo();
    if (Zoradit->isChecked()) {
        list_.resortAfterRename();
        showSelection();
    }
    setStatusSelection();
}
