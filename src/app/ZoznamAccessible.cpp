#include "ZoznamAccessible.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QPersistentModelIndex>
#include <QPointer>

namespace {

class RowAccessible : public QAccessibleInterface {
public:
    RowAccessible(QAbstractItemView* view, const QModelIndex& index) : view_(view), index_(index) {}

    bool isValid() const override { return view_ && index_.isValid(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::Role role() const override { return QAccessible::ListItem; }

    // Named by the record's name, described by its location.
    QString text(QAccessible::Text t) const override {
        if (!isValid())
            return {};
        if (t == QAccessible::Description)
            return index_.data(Qt::AccessibleDescriptionRole).toString();
        if (t != QAccessible::Name && t != QAccessible::Value)
            return {};
        return index_.data(Qt::AccessibleTextRole).toString();
    }

    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect local = view_->visualRect(index_);
        return QRect(view_->viewport()->mapToGlobal(local.topLeft()), local.size());
    }

    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        if (view_->selectionModel() && view_->selectionModel()->isSelected(index_))
            s.selected = true;
        if (view_->hasFocus() && view_->currentIndex() == index_)
            s.focused = true;
        if (!view_->visualRect(index_).intersects(view_->viewport()->rect())) {
            s.invisible = true;
            s.offscreen = true;
        }
        return s;
    }

    int row() const { return index_.row(); }

private:
    QPointer<QAbstractItemView> view_;
    QPersistentModelIndex index_;
};

QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (className == u"ZoznamView")
        if (auto* view = qobject_cast<QAbstractItemView*>(object))
            return new ZoznamAccessible(view);
    return nullptr;
}

}  // namespace

ZoznamAccessible::ZoznamAccessible(QAbstractItemView* view) : QAccessibleWidget(view, QAccessible::List) {}

ZoznamAccessible::~ZoznamAccessible() {
    for (QAccessible::Id id : std::as_const(rows_))
        QAccessible::deleteAccessibleInterface(id);
}

void ZoznamAccessible::install() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

QAbstractItemView* ZoznamAccessible::view() const {
    return static_cast<QAbstractItemView*>(widget());
}

int ZoznamAccessible::childCount() const {
    return view()->model() ? view()->model()->rowCount(view()->rootIndex()) : 0;
}

QAccessibleInterface* ZoznamAccessible::child(int index) const {
    if (index < 0 || index >= childCount())
        return nullptr;
    const auto known = rows_.constFind(index);
    if (known != rows_.constEnd()) {
        auto* row = static_cast<RowAccessible*>(QAccessible::accessibleInterface(*known));
        if (row && row->isValid() && row->row() == index)
            return row;
        // Its record was removed or has moved to another row.
        QAccessible::deleteAccessibleInterface(*known);
    }
    auto* row = new RowAccessible(view(), view()->model()->index(index, 0, view()->rootIndex()));
    rows_.insert(index, QAccessible::registerAccessibleInterface(row));
    return row;
}

int ZoznamAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (!child || child->role() != QAccessible::ListItem || child->parent() != this)
        return -1;
    return static_cast<const RowAccessible*>(child)->row();
}

QAccessibleInterface* ZoznamAccessible::childAt(int x, int y) const {
    const QPoint local = view()->viewport()->mapFromGlobal(QPoint(x, y));
    const QModelIndex index = view()->indexAt(local);
    return index.isValid() ? child(index.row()) : nullptr;
}

QAccessibleInterface* ZoznamAccessible::focusChild() const {
    if (!view()->hasFocus())
        return nullptr;
    const QModelIndex current = view()->currentIndex();
    return current.isValid() ? child(current.row()) : nullptr;
}

void ZoznamAccessible::rowEvent(QAbstractItemView* view, int row, QAccessible::Event event) {
    if (!QAccessible::isActive() || row < 0)
        return;
    QAccessibleEvent e(view, event);
    e.setChild(row);
    QAccessible::updateAccessibility(&e);
}
