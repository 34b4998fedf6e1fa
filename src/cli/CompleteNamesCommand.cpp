// The names the shells' completions offer after rename, relocate and
// delete: every record name that starts with what is typed, one a line.
// Hidden from the help: it is for the completion scripts, not for people.

#include <cctype>
#include <cstdio>

#include "store/format/Format.h"
#include "text/RecordText.h"
#include "Command.h"
#include "Messages.h"
#include "Texts.h"

namespace vrindel::cli {

namespace {

class CompleteNamesCommand : public Command {
public:
    explicit CompleteNamesCommand(CLI::App& parent) : Command(parent, "complete-names", "") {
        app_->group("");
        app_->add_option("PREFIX", prefix_);
    }

    int run() override {
        // Straight from the file, without a model: a million records are
        // streamed in the time it takes to read them, with no sorting.
        CatalogueStore store;
        try {
            store.openForLooking();
            if (!store.catalogueExists())
                return exitcode::Problems;
            const Converted typed = toRecordText(prefix_, "name");
            if (!typed.problem.empty())
                return exitcode::Problems;
            const std::string_view prefix(typed.bytes);
            std::string out;
            out.reserve(1 << 16);
            store.readRecords([&](std::string_view name, std::string_view) {
                if (name.size() < prefix.size() || !startsLike(name, prefix) || hasLineBreak(name))
                    return;
                out += windows1250ToUtf8(name);
                out += '\n';
                if (out.size() >= (1 << 16)) {
                    std::fwrite(out.data(), 1, out.size(), stdout);
                    out.clear();
                }
            });
            std::fwrite(out.data(), 1, out.size(), stdout);
        } catch (const IoError&) {
            return exitcode::FileError;   // a completion says nothing
        }
        return std::fflush(stdout) == 0 ? exitcode::Ok : exitcode::FileError;
    }

private:
    // Letter case ignored as the window's name match ignores it, for the
    // letters a prefix is typed in most often; others byte for byte.
    static bool startsLike(std::string_view name, std::string_view prefix) {
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            const auto a = static_cast<unsigned char>(name[i]), b = static_cast<unsigned char>(prefix[i]);
            if (a != b && (a >= 0x80 || b >= 0x80 || std::tolower(a) != std::tolower(b)))
                return false;
        }
        return true;
    }
    // A name no shell can offer on one line.
    static bool hasLineBreak(std::string_view name) { return name.find_first_of("\r\n") != std::string_view::npos; }

    std::string prefix_;
};

}  // namespace

std::unique_ptr<Command> makeCompleteNames(CLI::App& app) { return std::make_unique<CompleteNamesCommand>(app); }

}  // namespace vrindel::cli
