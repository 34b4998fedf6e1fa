#pragma once
// The list of names (the window's `Zoznam`): a view that works out each row's
// place from its number, and the list box's own keys, mouse and type-ahead.

#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QTimer>

#include <optional>

// What the list asks of the window that holds it, and tells it: the view
// knows nothing else of the window (TMainForm answers, wired where it makes
// the list). The window runs each of these as an event's handler.
class ZoznamHost {
public:
    virtual QString rowText(int row) const = 0;
    virtual void listMouseDown(Qt::MouseButton button) = 0;
    virtual void listMouseMove() = 0;
    virtual void listMouseUp() = 0;
    // The user moved the current row (mouse, keys).
    virtual void listRowChosen(int row) = 0;
    // Typed letters so far; empty when Backspace took the last one.
    virtual void listTypedAhead(const QString& typed) = 0;
    virtual void listRowsShown(int rows) = 0;
    virtual void listMenuAt(const QPoint& globalPos) = 0;

protected:
    ~ZoznamHost() = default;
};

// Rows 13 pixels high, one selected at most. The view works out every row's place from its
// number, so that a row inserted or removed costs the same with ten names
// as with a million: only the rows in view are ever looked at or painted.
// (Qt's list and table views keep per-row layout or header state, walked
// on every insert or removal.) The vertical scroll bar counts rows.
//
// For a key, the window's key-down handler has already run when the list
// sees it; for the mouse, the list's own handling (moving the selection to
// the entry under the pointer) comes first and the window's handler after it.
// Typed letters search the list as a list box does, not as Qt's views do.
class ZoznamView : public QAbstractItemView {
    Q_OBJECT
public:
    static constexpr int ItemHeight = 13;

    ZoznamView(ZoznamHost& host, QWidget* parent);
    // Brings the scroll range up to date now.
    void layoutNow();
    // Rows wholly in view.
    int visibleRows() const;

    void setModel(QAbstractItemModel* model) override;
    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;

signals:
    // Once, when the first rows are on the screen.
    void firstPainted();

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
    void focusOutEvent(QFocusEvent* event) override;
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
    // A typed letter or Backspace searches the names; false for other keys.
    bool typeAhead(QKeyEvent* event);

    // A drag with the left button selects the row under the pointer, the
    // last one below the rows, and beyond the top or the bottom edge the
    // edge row while the list scrolls towards the pointer, one row a tick.
    // Always through the current row, so that the highlight, the details and
    // the record a Delete removes are one.
    void dragTo(int y);
    void dragScroll();
    void selectRow(int row);

    ZoznamHost& host_;
    bool painted_ = false;
    bool dragging_ = false;
    std::optional<QPoint> rightPressedAt_;
    int dragY_ = 0;
    QTimer dragScroller_;
    QMetaObject::Connection removed_;
    QString typed_;             // type-ahead search text
    QElapsedTimer lastTyped_;
};
