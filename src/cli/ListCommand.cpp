#include "Command.h"
#include "Messages.h"

namespace vrindel::cli {

namespace {

class ListCommand : public Command {
public:
    explicit ListCommand(CLI::App& parent)
        : Command(parent, "list", _("Print every record")) {
        addSortedOption(sorted_);
        addFormatOption(format_, _("output format (default: text)"));
    }

    int run() override {
        Catalogue catalogue;
        readForLooking(catalogue);
        writeRecords(catalogue, format_, sorted_, stdout);
        return exitcode::Ok;
    }

private:
    bool sorted_ = false;
    Format format_ = Format::Text;
};

}  // namespace

std::unique_ptr<Command> makeList(CLI::App& app) { return std::make_unique<ListCommand>(app); }

}  // namespace vrindel::cli
