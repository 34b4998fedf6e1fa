#include "records/EditHistory.h"

namespace vrindel {

void EditHistory::add(std::string_view name, std::string_view location) {
    catalogue_.add(name, location);
    Edit e{Kind::Add, {}, RecordText(name), RecordText(location)};
    done_.push_back(e);
    undone_.clear();
}

void EditHistory::deleteAtDisplay(int i) {
    Edit e{Kind::Delete, catalogue_.removalAt(i), {}, {}};
    catalogue_.deleteAtDisplay(i);
    done_.push_back(e);
    undone_.clear();
}

void EditHistory::renameAtDisplay(int i, std::string_view name) {
    Edit e{Kind::Rename, catalogue_.removalAt(i), RecordText(name), {}};
    catalogue_.renameAtDisplay(i, name);
    done_.push_back(e);
    undone_.clear();
}

void EditHistory::relocateAtDisplay(int i, std::string_view location) {
    Edit e{Kind::Relocate, catalogue_.removalAt(i), RecordText(location), {}};
    catalogue_.relocateAtDisplay(i, location);
    done_.push_back(e);
    undone_.clear();
}

// The display entry of a text: the one at the guessed index when it holds
// exactly that text (a name listed twice in different case), else the first
// match.
int EditHistory::displayOf(const RecordText& shown, int guess) const {
    if (guess >= 0 && guess < catalogue_.displayCount() && catalogue_.displayAt(guess).view() == shown.view())
        return guess;
    return catalogue_.findInDisplay(shown.view());
}

EditHistory::Step EditHistory::undo() {
    if (done_.empty())
        return {};
    Edit& e = done_.back();
    Step step{e.kind, false, -1};
    switch (e.kind) {
    case Kind::Add:
        step.display = displayOf(e.after, catalogue_.selection());
        step.removed = true;
        catalogue_.deleteAtDisplay(step.display);
        break;
    case Kind::Delete:
        step.display = e.restoredAt = catalogue_.restore(e.before);
        break;
    case Kind::Rename:
        step.display = displayOf(e.after, catalogue_.selection());
        catalogue_.renameAtDisplay(step.display, e.before.shown.view(), e.before.name.view());
        break;
    case Kind::Relocate:
        step.display = displayOf(e.before.shown, catalogue_.selection());
        catalogue_.relocateAtDisplay(step.display, e.before.location.view());
        break;
    }
    undone_.push_back(e);
    done_.pop_back();
    return step;
}

EditHistory::Step EditHistory::redo() {
    if (undone_.empty())
        return {};
    Edit& e = undone_.back();
    Step step{e.kind, false, -1};
    switch (e.kind) {
    case Kind::Add:
        catalogue_.add(e.after.view(), e.location.view());
        step.display = catalogue_.selection();
        break;
    case Kind::Delete:
        step.display = displayOf(e.before.shown, e.restoredAt);
        step.removed = true;
        catalogue_.deleteAtDisplay(step.display);
        break;
    case Kind::Rename:
        step.display = displayOf(e.before.shown, catalogue_.selection());
        catalogue_.renameAtDisplay(step.display, e.after.view());
        break;
    case Kind::Relocate:
        step.display = displayOf(e.before.shown, catalogue_.selection());
        catalogue_.relocateAtDisplay(step.display, e.after.view());
        break;
    }
    done_.push_back(e);
    undone_.pop_back();
    return step;
}

void EditHistory::clear() {
    done_.clear();
    undone_.clear();
}

}  // namespace vrindel
