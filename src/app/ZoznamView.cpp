// The list of names (the window's `Zoznam`): a view that works out each row's
// place from its number, and the list box's own keys, mouse and type-ahead.
#include "ZoznamView.h"

#include <utility>

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionFocusRect>

#include <algorithm>
#include <optional>
#include <string>

#include "RecordTextInput.h"
#include "ZoznamAccessible.h"

namespace {

constexpr qint64 TypeAheadPause = 500;  // milliseconds
constexpr int DragScrollInterval = 50;  // milliseconds a row while dragging beyond an edge

}  // namespace

ZoznamView::ZoznamView(ZoznamHost& host, QWidget* parent) : QAbstractItemView(parent), host_(host) {
    ZoznamAccessible::install();
    verticalScrollBar()->setSingleStep(1);
    // The list opens its own menu (ZoznamContextMenu): Qt's would come on
    // the press of the right button, before a drag could be told apart.
    setContextMenuPolicy(Qt::NoContextMenu);
    viewport()->setContextMenuPolicy(Qt::NoContextMenu);
    // Qt would give the focus on a press of any button before the view sees
    // it; the left button's press takes it in mousePressEvent instead.
    setFocusPolicy(Qt::TabFocus);
    dragScroller_.setInterval(DragScrollInterval);
    connect(&dragScroller_, &QTimer::timeout, this, [this] { dragScroll(); });
}

void ZoznamView::setModel(QAbstractItemModel* model) {
    disconnect(removed_);
    QAbstractItemView::setModel(model);
    if (model)
        removed_ = connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { rowsGone(); });
    updateGeometries();
}

int ZoznamView::rowCount() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int ZoznamView::topRow() const {
    return verticalScrollBar()->value();
}

int ZoznamView::visibleRows() const {
    return std::max(1, viewport()->height() / ItemHeight);
}

int ZoznamView::verticalOffset() const {
    return topRow() * ItemHeight;
}

int ZoznamView::rowAt(int y) const {
    // A point below the viewport is on no row: the rows beyond it are not
    // shown, and taking one would highlight a record nobody sees.
    if (y < 0 || y >= viewport()->height())
        return -1;
    const int row = topRow() + y / ItemHeight;
    return row < rowCount() ? row : -1;
}

QRect ZoznamView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model() || index.row() >= rowCount())
        return {};
    return {0, (index.row() - topRow()) * ItemHeight, viewport()->width(), ItemHeight};
}

QModelIndex ZoznamView::indexAt(const QPoint& point) const {
    if (point.x() < 0 || point.x() >= viewport()->width())
        return {};
    const int row = rowAt(point.y());
    return row < 0 ? QModelIndex() : model()->index(row, 0, rootIndex());
}

void ZoznamView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid())
        return;
    const int row = index.row(), top = topRow(), page = visibleRows();
    int wanted = top;
    switch (hint) {
    case PositionAtTop:
        wanted = row;
        break;
    case PositionAtBottom:
        wanted = row - page + 1;
        break;
    case PositionAtCenter:
        wanted = row - page / 2;
        break;
    case EnsureVisible:
        if (row < top)
            wanted = row;
        else if (row >= top + page)
            wanted = row - page + 1;
        break;
    }
    verticalScrollBar()->setValue(wanted);
}

void ZoznamView::layoutNow() {
    executeDelayedItemsLayout();
    updateGeometries();
}

void ZoznamView::updateGeometries() {
    // Scrolled by rows: the last position shows the last row at the bottom.
    const int page = visibleRows();
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(page);
    bar->setRange(0, std::max(0, rowCount() - page));
    horizontalScrollBar()->setRange(0, 0);
    QAbstractItemView::updateGeometries();
}

void ZoznamView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    updateGeometries();
    viewport()->update();
}

void ZoznamView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
    if (topLeft == bottomRight) {
        QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
        return;
    }
    // A range may be the whole list (after a re-sort): only the part in
    // view is drawn again, found without visiting the rest.
    if (!topLeft.isValid() || !bottomRight.isValid())
        return;
    const int top = topRow();
    const int first = std::max(topLeft.row(), top), last = std::min(bottomRight.row(), top + visibleRows());
    if (first <= last)
        viewport()->update(QRect(0, (first - top) * ItemHeight, viewport()->width(), (last - first + 1) * ItemHeight));
#if QT_CONFIG(accessibility)
    if (QAccessible::isActive()) {
        QAccessibleTableModelChangeEvent event(this, QAccessibleTableModelChangeEvent::DataChanged);
        event.setFirstRow(topLeft.row());
        event.setLastRow(bottomRight.row());
        event.setFirstColumn(0);
        event.setLastColumn(0);
        QAccessible::updateAccessibility(&event);
    }
#endif
}

void ZoznamView::rowsGone() {
    updateGeometries();
    viewport()->update();
}

void ZoznamView::scrollContentsBy(int dx, int dy) {
    // The scroll bars count rows; the viewport moves by pixels.
    QAbstractItemView::scrollContentsBy(dx, dy * ItemHeight);
}

void ZoznamView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    if (!selectionModel())
        return;
    const QRect r = rect.normalized();
    const QModelIndex first = indexAt(QPoint(r.left(), r.top()));
    const QModelIndex last = indexAt(QPoint(r.left(), r.bottom()));
    if (!first.isValid() || !last.isValid())
        return;
    selectionModel()->select(QItemSelection(first, last), command);
}

QRegion ZoznamView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const int top = topRow(), bottom = top + visibleRows();
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.model() != model())
            continue;
        // Only the part in view, however long the range.
        const int first = std::max(range.top(), top), last = std::min(range.bottom(), bottom);
        if (first <= last)
            region += QRect(0, (first - top) * ItemHeight, viewport()->width(), (last - first + 1) * ItemHeight);
    }
    return region;
}

void ZoznamView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette::ColorGroup group = !isEnabled() ? QPalette::Disabled
                                       : isActiveWindow() ? QPalette::Active
                                                          : QPalette::Inactive;
    const QPalette& colours = palette();
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const QRect area = event->rect();
    const int top = topRow();
    const int last = std::min(rowCount() - 1, top + std::max(0, area.bottom()) / ItemHeight);
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    for (int row = top + std::max(0, area.top()) / ItemHeight; row <= last; ++row) {
        const QModelIndex index = model()->index(row, 0, rootIndex());
        const QRect rect = visualRect(index);
        const bool selected = selectionModel() && selectionModel()->isSelected(index);
        if (selected)
            painter.fillRect(rect, colours.brush(group, QPalette::Highlight));
        painter.setPen(colours.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(rect.adjusted(margin, 0, -margin, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         host_.rowText(row));
        if (focus && index == current) {
            QStyleOptionFocusRect frame;
            frame.initFrom(this);
            frame.rect = rect;
            frame.backgroundColor = colours.color(group, selected ? QPalette::Highlight : QPalette::Base);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
        }
    }    if (!std::exchange(painted_, true))
        emit firstPainted();
}

QModelIndex ZoznamView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
    // A page is the viewport's height measured from the current row; Home
    // and End go to the first and the last entry, as in a list box; nothing
    // moves sideways.
    const int rows = rowCount();
    if (rows == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, 0, rootIndex());
    const int row = current.row();
    int to = row;
    switch (action) {
    case MoveUp:
        to = std::max(0, row - 1);
        break;
    case MoveDown:
        to = std::min(rows - 1, row + 1);
        break;
    case MovePageUp: {
        const int y = row * ItemHeight - viewport()->height();
        to = y < 0 ? 0 : y / ItemHeight;
        break;
    }
    case MovePageDown:
        to = std::min(rows - 1, (row * ItemHeight + ItemHeight - 1 + viewport()->height()) / ItemHeight);
        break;
    case MoveHome:
        to = 0;
        break;
    case MoveEnd:
        to = rows - 1;
        break;
    default:
        break;
    }
    return model()->index(to, 0, rootIndex());
}

QItemSelectionModel::SelectionFlags ZoznamView::selectionCommand(const QModelIndex& index, const QEvent* event) const {
    // A click on the empty space below the last entry, and Ctrl with a click
    // or the space bar, would take the selection away from the selected
    // entry; in a list box it stays, and the highlight with it.
    if (!index.isValid())
        return QItemSelectionModel::NoUpdate;
    const QItemSelectionModel::SelectionFlags command = QAbstractItemView::selectionCommand(index, event);
    if (command.testFlag(QItemSelectionModel::Deselect))
        return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    return command;
}

void ZoznamView::keyPressEvent(QKeyEvent* event) {
    if (typeAhead(event)) {
        event->accept();
        return;
    }
    QAbstractItemView::keyPressEvent(event);
}

void ZoznamView::mousePressEvent(QMouseEvent* event) {
    // Only the left button takes the focus and moves the selection, as in
    // a list box (the list is no click-focus widget, see the constructor).
    if (event->button() == Qt::LeftButton) {
        setFocus(Qt::MouseFocusReason);
        QAbstractItemView::mousePressEvent(event);
        dragging_ = true;
    } else {
        event->accept();
    }
    if (event->button() == Qt::RightButton)
        rightPressedAt_ = event->position().toPoint();
    const Qt::MouseButton button = event->button();
    host_.listMouseDown(button);
}

void ZoznamView::mouseMoveEvent(QMouseEvent* event) {
    // Qt's own drag selection and auto-scroll are left out: they move the
    // highlight apart from the current row once the pointer leaves the list.
    if (dragging_ && (event->buttons() & Qt::LeftButton))
        dragTo(event->position().toPoint().y());
    else
        QAbstractItemView::mouseMoveEvent(event);
    host_.listMouseMove();
}

void ZoznamView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
        dragScroller_.stop();
        QAbstractItemView::mouseReleaseEvent(event);
    } else {
        event->accept();
    }
    host_.listMouseUp();
    // A right click that ends where it began opens the list's menu; a
    // right-button drag stays what it always was, nothing. The selection
    // does not move either way.
    if (event->button() == Qt::RightButton && rightPressedAt_ &&
        (event->position().toPoint() - *rightPressedAt_).manhattanLength() <= QApplication::startDragDistance())
        host_.listMenuAt(event->globalPosition().toPoint());
    if (event->button() == Qt::RightButton)
        rightPressedAt_.reset();
}

void ZoznamView::selectRow(int row) {
    const QModelIndex index = model()->index(row, 0, rootIndex());
    if (index != currentIndex())
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

void ZoznamView::dragTo(int y) {
    dragY_ = y;
    const int rows = rowCount();
    const bool beyond = y < 0 || y >= viewport()->height();
    if (beyond && !dragScroller_.isActive())
        dragScroller_.start();
    else if (!beyond)
        dragScroller_.stop();
    if (rows == 0)
        return;
    const int top = topRow();
    const int lastShown = std::min(rows - 1, top + visibleRows() - 1);
    const int row = y < 0 ? top : beyond ? lastShown : std::min(rows - 1, top + y / ItemHeight);
    selectRow(row);
}

void ZoznamView::dragScroll() {
    if (!dragging_) {
        dragScroller_.stop();
        return;
    }
    const int rows = rowCount();
    if (rows == 0)
        return;
    const int top = topRow();
    const int row = dragY_ < 0 ? std::max(0, top - 1) : std::min(rows - 1, top + visibleRows());
    // The current row's change scrolls it into view, one row.
    selectRow(row);
    host_.listMouseMove();
}

void ZoznamView::mouseDoubleClickEvent(QMouseEvent* event) {
    // A second click is a press like the first.
    mousePressEvent(event);
}

void ZoznamView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QAbstractItemView::currentChanged(current, previous);
    if (current.isValid() && hasFocus())
        ZoznamAccessible::rowEvent(this, current.row(), QAccessible::Focus);
    if (current.isValid())
        host_.listRowChosen(current.row());
}

void ZoznamView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QAbstractItemView::selectionChanged(selected, deselected);
    // The highlighted row is the current row, which is the record shown and
    // the one Delete removes; whatever Qt selects besides, it goes back.
    const QModelIndex current = currentIndex();
    if (current.isValid() && !selected.isEmpty() && !selectionModel()->isSelected(current)) {
        selectionModel()->select(current, QItemSelectionModel::ClearAndSelect);
        return;
    }
    // One row at most is selected.
    if (!selected.isEmpty())
        ZoznamAccessible::rowEvent(this, selected.first().top(), QAccessible::Selection);
}

void ZoznamView::focusOutEvent(QFocusEvent* event) {
    // A box raised meanwhile takes the button's release with it.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason) {
        dragging_ = false;
        dragScroller_.stop();
    }
    QAbstractItemView::focusOutEvent(event);
}

void ZoznamView::resizeEvent(QResizeEvent* event) {
    QAbstractItemView::resizeEvent(event);
    updateGeometries();
    host_.listRowsShown(visibleRows());
}

bool ZoznamView::typeAhead(QKeyEvent* event) {
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const bool backspace = event->key() == Qt::Key_Backspace;
    const QString text = event->text();
    if (!backspace && (text.isEmpty() || !std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); })))
        return false;

    if (!lastTyped_.isValid() || lastTyped_.elapsed() >= TypeAheadPause)
        typed_.clear();
    lastTyped_.start();
    if (backspace) {
        if (typed_.isEmpty())
            return true;
        typed_.chop(1);
    } else {
        typed_ += text;
    }
    host_.listTypedAhead(typed_);
    return true;
}
