#pragma once
// How the window keeps its list view in step with the catalogue: while the
// view is set from the catalogue, what it reports is not the user's doing.

#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <string>

#include "records/EditHistory.h"
#include "ZoznamModel.h"
#include "ZoznamView.h"

// Marks the view as being set from the catalogue, so that what the view
// reports meanwhile is not taken for the user's doing.
class Syncing {
public:
    explicit Syncing(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
    ~Syncing() { flag_ = was_; }
    Syncing(const Syncing&) = delete;
    Syncing& operator=(const Syncing&) = delete;

private:
    bool& flag_;
    bool was_;
};

// Brackets a change of the display list for the view, even when the change
// fails half-way.
class ModelReset {
public:
    ModelReset(ZoznamModel& model, bool& syncing) : model_(model), syncing_(syncing) { model_.beginReset(); }
    ~ModelReset() { model_.endReset(); }
    ModelReset(const ModelReset&) = delete;
    ModelReset& operator=(const ModelReset&) = delete;

private:
    ZoznamModel& model_;
    Syncing syncing_;
};

// What the list's parts (ZoznamSync, ZoznamActions) ask of the window that
// holds them.
class ListWindow {
public:
    // Runs an action as an event's handler runs; returns whether it ran to
    // its end.
    virtual bool run(const std::function<void()>& action) = 0;
    // The selected record's details, and its place in the status bar.
    virtual void ShowInfo() = 0;
    // The number of records in the status bar.
    virtual void setStatusCount() = 0;

protected:
    ~ListWindow() = default;
};

// The list view bound to the catalogue: answers what the view asks from the
// catalogue, shows the catalogue's selection and scroll position, and tells
// the view of every change of the display list made through it. A row the
// user moves to becomes the selection, its details shown; the rest of what
// the user does in the list it passes on as signals, which the window runs
// as its handlers.
class ZoznamSync : public QObject, private ZoznamHost {
    Q_OBJECT
public:
    // syncing is set while the view is set from the catalogue.
    ZoznamSync(ListWindow& window, vrindel::Catalogue& catalogue, vrindel::EditHistory& history, bool& syncing);
    // Whom the view reports to.
    ZoznamHost& host() { return *this; }
    // The view and its model, once the layout made them.
    void bind(ZoznamView* view, ZoznamModel* model);
    ZoznamView* view() const { return view_; }

    // Brackets a change of the whole display list.
    ModelReset reset() { return ModelReset(*model_, syncing_); }
    // The view shows the catalogue's selection and scroll position.
    void showSelection();

    // Edits through the history, the view told of the rows they change.
    void add(const std::string& name, const std::string& location);
    void deleteAt(int i);
    void renameAt(int i, const std::string& name);
    // The renamed record to its place in name order.
    void resortAfterRename();
    // Name order or storage order, the selected record staying selected.
    void setSorted(bool on);

signals:
    void mousePressed(Qt::MouseButton button);
    void mouseMoved();
    void mouseReleased();
    void menuRequested(const QPoint& globalPos);

private:
    QString rowText(int row) const override;
    void listMouseDown(Qt::MouseButton button) override;
    void listMouseMove() override;
    void listMouseUp() override;
    void listRowChosen(int row) override;
    void listTypedAhead(const QString& typed) override;
    void listRowsShown(int rows) override;
    void listMenuAt(const QPoint& globalPos) override;

    void rememberTopIndex();
    void selectByUser(int row);

    ListWindow& window_;
    vrindel::Catalogue& catalogue_;
    vrindel::EditHistory& history_;
    bool& syncing_;
    ZoznamView* view_ = nullptr;
    ZoznamModel* model_ = nullptr;
};
