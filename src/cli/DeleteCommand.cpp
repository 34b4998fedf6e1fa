#include "Command.h"
#include "Messages.h"

namespace vrindel::cli {

namespace {

class DeleteCommand : public Command {
public:
    explicit DeleteCommand(CLI::App& parent)
        : Command(parent, "delete", _("Delete a record"),
                  _("NAME is matched as the window matches names: whole, letter case ignored.")) {
        app_->add_option("NAME", name_, _("the record's name"))->required();
    }

    int run() override {
        Change change;
        readForChanging(change, false);
        change.catalogue.deleteAtDisplay(findRecord(change.catalogue, name_));
        save(change);
        return exitcode::Ok;
    }

private:
    std::string name_;
};

}  // namespace

std::unique_ptr<Command> makeDelete(CLI::App& app) { return std::make_unique<DeleteCommand>(app); }

}  // namespace vrindel::cli
