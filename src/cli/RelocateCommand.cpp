#include "Command.h"
#include "Messages.h"
#include "Texts.h"

namespace vrindel::cli {

namespace {

class RelocateCommand : public Command {
public:
    explicit RelocateCommand(CLI::App& parent)
        : Command(parent, "relocate", _("Change a record's location"),
                  _("NAME is matched as the window matches names: whole, letter case ignored.")) {
        app_->add_option("NAME", name_, _("the record's name"))->required();
        app_->add_option("LOCATION", location_, _("its new location"))->required();
    }

    int run() override {
        const std::string location = storable(location_, "location");
        Change change;
        readForChanging(change, false);
        change.catalogue.relocateAtDisplay(findRecord(change.catalogue, name_), location);
        save(change);
        return exitcode::Ok;
    }

private:
    std::string name_;
    std::string location_;
};

}  // namespace

std::unique_ptr<Command> makeRelocate(CLI::App& app) { return std::make_unique<RelocateCommand>(app); }

}  // namespace vrindel::cli
