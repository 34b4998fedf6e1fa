#pragma once
// What assistive technology sees of the list: a list whose children are its
// rows, each a list item named by its record. Row interfaces are made only
// for the rows asked about, so that a screen reader costs nothing per record
// either. Each follows its record as rows come and go; one found at another
// row than asked for is replaced.

#include <QAccessibleWidget>
#include <QHash>

class QAbstractItemView;

class ZoznamAccessible : public QAccessibleWidget {
public:
    explicit ZoznamAccessible(QAbstractItemView* view);

    // Makes the list's class use this interface; called once per program.
    static void install();

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    // Tells assistive technology that the row is now the current one, or
    // the selected one.
    static void rowEvent(QAbstractItemView* view, int row, QAccessible::Event event);

protected:
    ~ZoznamAccessible() override;

private:
    QAbstractItemView* view() const;

    mutable QHash<int, QAccessible::Id> rows_;
};
