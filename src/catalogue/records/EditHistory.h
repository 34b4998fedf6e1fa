#pragma once
// The session's edits of a catalogue, each with what takes it back: every
// add, delete, rename and relocate can be undone and done again, in order,
// without limit. An undo leaves the three lists exactly as they were before
// the edit (a deleted record returns to its place in storage order, so that
// a save writes what it would have written), whatever the sort mode is now.

#include <string_view>
#include <vector>

#include "records/Catalogue.h"
#include "text/RecordText.h"

namespace vrindel {

class EditHistory {
public:
    enum class Kind { Add, Delete, Rename, Relocate };

    // What an undo or a redo did to the display list.
    struct Step {
        Kind kind = Kind::Add;
        // The record left the list (an add undone, a delete redone):
        // display is then the index it had, otherwise the index it has.
        bool removed = false;
        int display = -1;
    };

    explicit EditHistory(Catalogue& catalogue) : catalogue_(catalogue) {}

    // Each runs the catalogue's operation of the same name and remembers it,
    // forgetting what was undone; an operation that fails is not remembered.
    void add(std::string_view name, std::string_view location);
    void deleteAtDisplay(int i);
    void renameAtDisplay(int i, std::string_view name);
    void relocateAtDisplay(int i, std::string_view location);

    bool canUndo() const { return !done_.empty(); }
    bool canRedo() const { return !undone_.empty(); }
    // Nothing to take back or do again: nothing happens, and the step's
    // display index is -1.
    Step undo();
    Step redo();
    // After the catalogue was cleared or read anew.
    void clear();

private:
    struct Edit {
        Kind kind;
        Catalogue::Removal before;   // the record before the edit
        RecordText after;            // the new name (add, rename) or location (relocate)
        RecordText location;         // the added record's location
        int restoredAt = -1;         // where an undone delete put the record back
    };
    int displayOf(const RecordText& shown, int guess) const;

    Catalogue& catalogue_;
    std::vector<Edit> done_;
    std::vector<Edit> undone_;
};

}  // namespace vrindel
