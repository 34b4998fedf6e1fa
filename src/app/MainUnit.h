#pragma once
// The program's one window, TMainForm, with its controls and every reaction
// to the user. Handlers bear the names of their control and event; they run
// one at a time, each to its end, and nest only where a handler sets an
// edit's text, sets a check box to a new state, or calls another handler.
//
// Every handler entered from an event runs inside one guard (run()): an
// error that leaves it ends it at once and is shown by the generic error
// message; the program goes on with the next event. Nested handlers run
// unguarded, so that their errors end the outer handler as well.

#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QWidget>

#include <array>
#include <functional>

#include "Catalogue.h"
#include "CatalogueFiles.h"
#include "FileLayer.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

class MessageBoxes;
class TMainForm;
class ZoznamModel;

// Virtual-key codes the handlers look at.
namespace vk {
inline constexpr int Return = 13;
inline constexpr int Escape = 27;
inline constexpr int Up = 38;
inline constexpr int Down = 40;
inline constexpr int Delete = 46;
}  // namespace vk

// The list of names: rows 13 pixels high, one selected at most, drawn by the
// standard item delegate. The view works out every row's place from its
// number, so that a row inserted or removed costs the same with ten names
// as with a million: only the rows in view are ever looked at or painted.
// (Qt's list and table views keep per-row layout or header state, walked
// on every insert or removal.) The vertical scroll bar counts rows.
//
// For a key, the window's key-down handler has already run when the list
// sees it; for the mouse, the list's own handling (moving the selection to
// the entry under the pointer) comes first and the window's handler after it.
// Typed letters search the list as a list box does (TMainForm::typeAhead),
// not as Qt's views do.
class ZoznamView : public QAbstractItemView {
    Q_OBJECT
public:
    ZoznamView(TMainForm& form, QWidget* parent);
    // Brings the scroll range up to date now.
    void layoutNow();
    // Rows wholly in view.
    int visibleRows() const;

    void setModel(QAbstractItemModel* model) override;
    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void keyboardSearch(const QString&) override {}
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;

    int horizontalOffset() const override { return 0; }
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex&) const override { return false; }
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;

private:
    int rowCount() const;
    int topRow() const;
    int rowAt(int y) const;              // -1 outside the rows
    void rowsGone();

    TMainForm& form_;
    QMetaObject::Connection removed_;
};

// The status bar: two sunken panels, the first 500 pixels wide with its text
// on the left, the second the rest with its text centred; no size grip.
class StatusBar : public QWidget {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent);
    QLabel* panel(int i) const { return panels_[std::size_t(i)]; }
    QString panelText(int i) const;
    void setPanelText(int i, const QString& text);

private:
    std::array<QLabel*, 2> panels_{};
};

class TMainForm : public QWidget, private vrindel::FileMessages {
    Q_OBJECT
    friend class ZoznamView;

public:
    // Runs FormCreate before returning; the caller shows the window.
    explicit TMainForm(MessageBoxes& boxes, vrindel::FileSystem& fs = vrindel::systemFileSystem(),
                       QWidget* parent = nullptr);
    ~TMainForm() override;

    // --- Controls, in tab order, then those without one ------------------------
    ZoznamView* Zoznam = nullptr;
    QCheckBox* DelExt = nullptr;
    QLineEdit* NewPolozka = nullptr;
    QLineEdit* NewPoznamka = nullptr;
    QPushButton* Write = nullptr;
    QPushButton* Clear = nullptr;
    QCheckBox* Zoradit = nullptr;
    QCheckBox* DelPlaceBox = nullptr;
    QLineEdit* Polozka = nullptr;
    QLineEdit* Poznamka = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* NewPolozkaLabel = nullptr;
    QLabel* NewPoznamkaLabel = nullptr;
    QLabel* PolozkaLabel = nullptr;
    QLabel* PoznamkaLabel = nullptr;
    QFrame* Bevel1 = nullptr;
    QFrame* Bevel2 = nullptr;
    StatusBar* Status = nullptr;

    // --- Fields ------------------------------------------------------------------
    vrindel::FileVar ListFile;
    vrindel::FileVar OptionsFile;
    bool DragSelecting = false;

    // HelpZoznam, HelpPoznamka, the display list Zoznam and RecordCount.
    const vrindel::Catalogue& catalogue() const { return catalogue_; }
    ZoznamModel& model() const { return *model_; }

    // --- Handlers ------------------------------------------------------------------
    void FormCreate();
    void FormClose();
    void ShowInfo();
    void ZoznamKeyDown(int key);
    void ZoznamMouseDown(Qt::MouseButton button);
    void ZoznamMouseMove();
    void ZoznamMouseUp();
    void NewPolozkaChange();
    void NewPolozkaKeyDown(int key);
    void ClearClick();
    void WriteClick();
    void DelExtClick();
    void ZoraditClick();
    void PolozkaKeyDown(int key);

    // Runs a handler as an event runs it: at the outermost level an error
    // ends it and is shown by the generic error message. Returns whether the
    // handler ran to its end.
    bool run(const std::function<void()>& handler);

    // The desktop session is ending, or a signal asks the program to end:
    // both files are saved as a close saves them, nothing is shown, and the
    // window closes without running FormClose again.
    void SessionEnding();

    // Whether "Zoznam.dat" will be left alone at close because it exists but
    // could not be read at start-up.
    bool catalogueUnread() const { return listUnread_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // FileMessages: the two messages of the catalogue file.
    void listFileMissing() override;
    void listFileDamaged() override;

    void buildControls();
    void wireSignals();

    // Nesting as the window's controls nest: setting an edit's text runs its
    // change handler when the text differs; setting a check box to a new
    // state runs its click handler.
    void setEditText(QLineEdit* edit, const QString& text);
    void setCheck(QCheckBox* box, bool on);
    void runClickHandler(QCheckBox* box);
    // Disabling the control that has the focus leaves the focus with the
    // window itself.
    void setControlEnabled(QWidget* control, bool on);
    // Focus from a handler or an accelerator: an edit selects its whole
    // text. Fails while the window is not shown.
    void focusControl(QWidget* control);

    // Keys offered to the buttons before the focused control, accelerators,
    // and the focused control's key-down handler.
    bool routeKey(QKeyEvent* event);
    bool accelerator(int key);
    QWidget* keyTarget();

    // The display list: selection and scroll position mirror the catalogue.
    void showSelection();
    void userMovedSelection(int row);
    void selectByUser(int row);
    bool typeAhead(QKeyEvent* event);
    void rememberTopIndex();

    void setStatusCount();
    void setStatusPosition();          // "0 / 0" for an empty list
    void setStatusSelection();         // the selection's index plus one, always
    void saveFiles();
    vrindel::Switches switches() const;

    MessageBoxes& boxes_;
    vrindel::Catalogue catalogue_;
    ZoznamModel* model_ = nullptr;

    int depth_ = 0;             // handlers running
    bool syncing_ = false;      // the view is being set from the catalogue
    bool listUnread_ = false;
    bool ending_ = false;
    bool centred_ = false;

    QString typed_;             // type-ahead search text
    QElapsedTimer lastTyped_;
};
