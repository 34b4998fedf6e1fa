#include "Command.h"
#include "Messages.h"
#include "Texts.h"

namespace vrindel::cli {

namespace {

class RenameCommand : public Command {
public:
    explicit RenameCommand(CLI::App& parent)
        : Command(parent, "rename", _("Rename a record; it keeps its location"),
                  _("NAME is matched as the window matches names: whole, letter case ignored.")) {
        app_->add_option("NAME", name_, _("the record's name"))->required();
        app_->add_option("NEW", newName_, _("its new name, not yet listed"))->required();
    }

    int run() override {
        const std::string newName = storable(newName_, "new name");
        Change change;
        readForChanging(change, false);
        const int i = findRecord(change.catalogue, name_);
        // The window refuses a name that is listed; the one exception here
        // is the record itself, so that its spelling can change ("chata"
        // to "Chata") without a second record ever matching it.
        const int listed = change.catalogue.findInDisplay(newName);
        if (listed >= 0 && listed != i)
            throw Failure(exitcode::Problems,
                          tr("\"{0}\" is already listed (as \"{1}\"); nothing was changed", printable(newName_),
                             printable(windows1250ToUtf8(change.catalogue.displayAt(listed).view()))));
        change.catalogue.renameAtDisplay(i, newName);
        save(change);
        return exitcode::Ok;
    }

private:
    std::string name_;
    std::string newName_;
};

}  // namespace

std::unique_ptr<Command> makeRename(CLI::App& app) { return std::make_unique<RenameCommand>(app); }

}  // namespace vrindel::cli
