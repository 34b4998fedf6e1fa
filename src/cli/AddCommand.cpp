#include "Command.h"
#include "Messages.h"
#include "Texts.h"

namespace vrindel::cli {

namespace {

class AddCommand : public Command {
public:
    explicit AddCommand(CLI::App& parent)
        : Command(parent, "add",
                  _("Add a record"),
                  _("As the window adds: at most 31 characters each, only what Windows-1250 holds,\n"
                    "and a name not yet listed (letter case ignored, as the window compares).")) {
        app_->add_option("NAME", name_, _("the record's name"))->required();
        app_->add_option("LOCATION", location_, _("where it is kept"))->required();
    }

    bool createsCatalogue() const override { return true; }

    int run() override {
        const std::string name = storable(name_, "name");
        const std::string location = storable(location_, "location");
        Change change;
        readForChanging(change, true);
        const int listed = change.catalogue.findInDisplay(name);
        if (listed >= 0)
            throw Failure(exitcode::Problems,
                          tr("\"{0}\" is already listed (as \"{1}\"); nothing was changed", printable(name_),
                             printable(windows1250ToUtf8(change.catalogue.displayAt(listed).view()))));
        change.catalogue.add(name, location);
        save(change);
        return exitcode::Ok;
    }

private:
    std::string name_;
    std::string location_;
};

}  // namespace

std::unique_ptr<Command> makeAdd(CLI::App& app) { return std::make_unique<AddCommand>(app); }

}  // namespace vrindel::cli
