#pragma once
// The program's one window, TMainForm, with its controls and every reaction
// to the user. Handlers bear the names of their control and event; they run
// one at a time, each to its end, and nest only where a handler sets an
// edit's text, sets a check box to a new state, or calls another handler.
//
// Every handler entered from an event runs inside one guard (run(), a
// HandlerGuard): an error that leaves it ends it at once and is shown by the
// generic error message; the program goes on with the next event. Nested
// handlers run unguarded, so that their errors end the outer handler as well.
//
// Beside it, each made and wired once by the window: MainLayout makes and
// places the controls, ZoznamSync keeps the list (ZoznamView) in step with
// the catalogue and reports what the user does in it, ZoznamActions are the
// list's further actions, KeyRouter the keys the window takes before the
// focused control. RecordTextInput is what the edits take, StatusBar the
// status bar.

#include <QWidget>

#include <functional>
#include <memory>

#include "records/Catalogue.h"
#include "records/EditHistory.h"
#include "store/CatalogueStore.h"
#include "FormSync.h"
#include "HandlerGuard.h"
#include "KeyRouter.h"
#include "ListActions.h"
#include "MainLayout.h"

class MessageBoxes;
class ZoznamModel;

class TMainForm : public QWidget,
                  private vrindel::FileMessages,
                  private MainLayout,
                  private KeyTarget,
                  private ListWindow {
    Q_OBJECT

public:
    // Runs FormCreate before returning; the caller shows the window. When
    // another window has this folder's catalogue open, says so instead and
    // touches neither file: refused() is then true and the caller ends.
    explicit TMainForm(MessageBoxes& boxes, vrindel::FileSystem& fs = vrindel::systemFileSystem(),
                       QWidget* parent = nullptr);
    ~TMainForm() override;

    // The controls (MainLayout) are the window's own: others find one by its
    // object name, which is the control's name.

    // --- Fields ------------------------------------------------------------------
    // The two file variables of the catalogue and its switches live in the
    // store, which alone reads and writes them.
    bool DragSelecting = false;

    // HelpZoznam, HelpPoznamka, the display list Zoznam and RecordCount.
    const vrindel::Catalogue& catalogue() const { return catalogue_; }
    ZoznamModel& model() const { return *model_; }

    // --- Handlers ------------------------------------------------------------------
    // Those marked override are reached by the keyboard (KeyTarget) or by the
    // list's parts (ListWindow) as well.
    void FormCreate();
    void FormClose();
    void ShowInfo() override;
    void ZoznamKeyDown(int key) override;
    void ZoznamMouseDown(Qt::MouseButton button);
    void ZoznamMouseMove();
    void ZoznamMouseUp();
    void NewPolozkaChange();
    void NewPolozkaKeyDown(int key) override;
    void ClearClick() override;
    void WriteClick() override;
    void DelExtClick();
    void ZoraditClick();
    void PolozkaKeyDown(int key) override;

    // Every add, delete, rename and relocate since start-up.
    const vrindel::EditHistory& history() const { return history_; }

    // Runs a handler as an event runs it (HandlerGuard): at the outermost
    // level an error ends it and is shown by the generic error message.
    // Returns whether the handler ran to its end.
    bool run(const std::function<void()>& handler) override;

    // The desktop session is ending, or a signal asks the program to end:
    // both files are saved as a close saves them, nothing is shown, and the
    // window closes without running FormClose again.
    void SessionEnding();

    // Whether "Zoznam.dat" will be left alone at close because it exists but
    // could not be read at start-up.
    bool catalogueUnread() { return !store_.catalogueSavable(); }
    bool refused() const { return refused_; }
    // Whether the last save of a close or of the session's end failed (or
    // left changes unsaved): the program then ends with a non-zero status.
    bool lastSaveFailed() const { return lastSaveFailed_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // FileMessages: the two messages of the catalogue file.
    void listFileMissing() override;
    void listFileDamaged() override;
    // Once each: a catalogue put back from its journal, records that went to a conflict file.
    void tellOfRecovery();
    void tellOfConflicts(const vrindel::SaveReport& report);
    // Start-up, after FormCreate: copies of the catalogue that a sync engine
    // left with records the catalogue lacks are merged into it, if the user
    // will, and removed once the catalogue is saved.
    void mergeConflictCopies();

    // Every control's and the list's events to their handlers, each run as
    // an event's handler.
    void wireSignals();

    // Nesting as the window's controls nest: setting an edit's text runs its
    // change handler when the text differs; setting a check box to a new
    // state runs its click handler.
    void setEditText(QLineEdit* edit, const QString& text);
    void setCheck(QCheckBox* box, bool on) override;
    void runClickHandler(QCheckBox* box);
    // Disabling the control that has the focus leaves the focus with the
    // window itself.
    void setControlEnabled(QWidget* control, bool on);
    // Focus from a handler or an accelerator: an edit selects its whole
    // text. Fails while the window is not shown.
    void focusControl(QWidget* control) override;

    // The display list: selection and scroll position mirror the catalogue.
    void showSelection();

    void setStatusCount() override;
    void setStatusPosition();          // "0 / 0" for an empty list
    void setStatusSelection();         // the selection's index plus one, always
    // The one save of a close and of the session's end: what can be saved,
    // each file on its own, and the store's report of it.
    vrindel::SaveReport saveAll();
    // From the second failed close on, and before changes to a catalogue that
    // could not be read are dropped: whether the user lets the window close.
    bool userClosesWithoutSaving(const char* text);
    vrindel::Switches switches() const;

    MessageBoxes& boxes_;
    vrindel::Catalogue catalogue_;
    vrindel::EditHistory history_{catalogue_};
    ZoznamModel* model_ = nullptr;

    HandlerGuard guard_{boxes_};
    bool syncing_ = false;      // the view is being set from the catalogue
    vrindel::CatalogueStore store_;
    bool refused_ = false;
    bool ending_ = false;
    int failedCloses_ = 0;
    vrindel::SaveReport lastClose_;  // what the last close's save did
    bool lastSaveFailed_ = false;
    bool unsavedAccepted_ = false;  // the user let the changes to an unread catalogue go
    bool positioned_ = false;       // centred on the primary screen once, when first shown

    ZoznamSync list_{*this, catalogue_, history_, syncing_};
    std::unique_ptr<ZoznamActions> actions_;
    // Keys offered to the buttons before the focused control, accelerators,
    // and the focused control's key-down handler.
    std::unique_ptr<KeyRouter> keyboard_;
};
