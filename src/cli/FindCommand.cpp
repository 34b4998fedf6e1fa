#include "Command.h"
#include "Messages.h"
#include "search/TextSearch.h"

namespace vrindel::cli {

namespace {

class FindCommand : public Command {
public:
    explicit FindCommand(CLI::App& parent)
        : Command(parent, "find",
                  _("Print the records whose name or location contains TEXT"),
                  _("Letter case and accents are ignored: \"sa\" finds \"Šachy\", \"cist\" finds \"Čistiareň\".\n"
                    "Exit 1 when no record matches.")) {
        app_->add_option("TEXT", text_, _("the text to look for"))->required();
        addSortedOption(sorted_);
        addFormatOption(format_, _("output format (default: text)"));
    }

    int run() override {
        Catalogue catalogue;
        readForLooking(catalogue);
        const TextSearch search(text_);
        const std::size_t found = writeRecords(catalogue, format_, sorted_, stdout,
                                               [&](std::string_view name, std::string_view location) {
                                                   return search.foundIn(name) || search.foundIn(location);
                                               });
        return found > 0 ? exitcode::Ok : exitcode::Problems;
    }

private:
    std::string text_;
    bool sorted_ = false;
    Format format_ = Format::Text;
};

}  // namespace

std::unique_ptr<Command> makeFind(CLI::App& app) { return std::make_unique<FindCommand>(app); }

}  // namespace vrindel::cli
