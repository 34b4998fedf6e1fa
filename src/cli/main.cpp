// vrindel-cli: the catalogue of the folder at hand ("Zoznam.dat"), outside
// the window. A terminal tool: its messages go to standard error, in the
// user's language where a translation is installed, else in English.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ProcessMemory.h"
#include "Command.h"
#include "Errors.h"
#include "Folders.h"
#include "HelpFormatter.h"
#include "Messages.h"

using namespace vrindel;
using namespace vrindel::cli;

namespace {

// Edits (insert, delete, replace, swap two neighbours) from one word to the other.
std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// Ends the program (exit 2) for a word where a command should be, naming
// the command it is most likely a slip for.
int notACommand(const CLI::App& app, const std::string& word) {
    std::string best;
    std::size_t bestDistance = 3;   // more edits than two is another word
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
        const std::string& name = sub->get_name();
        const std::size_t d = name.rfind(word, 0) == 0 && word.size() >= 2 ? 1 : editDistance(word, name);
        if (d < bestDistance) {
            bestDistance = d;
            best = name;
        }
    }
    warn(best.empty() ? tr("\"{0}\" is not a command (vrindel-cli help lists them)", word)
                      : tr("\"{0}\" is not a command; did you mean \"{1}\"? (vrindel-cli help lists them)", word, best));
    return exitcode::Usage;
}

// A message of the command-line parser in the user's language, for the
// mistakes people make most; any other as the parser words it. The kind of
// mistake is the exception's own type: its name and wording vary between
// versions of the parser (one names a subcommand's error after the
// subcommand), the types do not.
std::string parserMessage(const CLI::Error& e) {
    const std::string text = e.what();
    auto endsWith = [&](const std::string& suffix) {
        return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (dynamic_cast<const CLI::RequiredError*>(&e)) {
        if (text.rfind("A subcommand", 0) == 0 || text.rfind("Requires at least 1 subcommand", 0) == 0)
            return _("A subcommand is required");
        if (endsWith(" is required"))
            return tr("{0} is required", text.substr(0, text.size() - std::string(" is required").size()));
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) {
        // The option is the word before the first comma or colon, or after " to ".
        std::string option;
        if (const std::size_t to = text.find(" to "); to != std::string::npos)
            option = text.substr(to + 4, text.find(',', to) - to - 4);
        else
            option = text.substr(0, text.find_first_of(":, "));
        if (!option.empty() && option[0] == '-')
            return tr("{0} needs a value", option);
    }
    if (dynamic_cast<const CLI::ValidationError*>(&e) || dynamic_cast<const CLI::ConversionError*>(&e)) {
        const std::size_t colon = text.find(": ");
        const std::size_t notIn = text.find(" not in {");
        if (colon != std::string::npos && notIn != std::string::npos && notIn > colon && text.back() == '}')
            return tr("{0}: {1} not in {{{2}}}", text.substr(0, colon), text.substr(colon + 2, notIn - colon - 2),
                      text.substr(notIn + 9, text.size() - notIn - 10));
        if (colon != std::string::npos)
            return tr("{0}: not a value it takes", text.substr(0, colon));
    }
    if (dynamic_cast<const CLI::ExcludesError*>(&e)) {
        const std::size_t excludes = text.find(" excludes ");
        if (excludes != std::string::npos)
            return tr("{0} and {1} cannot go together", text.substr(0, excludes), text.substr(excludes + 10));
    }
    return text;
}

// Every word the parser took for no option or value of the command, in the
// order typed (the parser's own message lists them backwards), told in one
// message; empty when there are none.
std::string extrasMessage(const CLI::App& app, int argc, char** argv) {
    // Each word with the command it was given to (none: the program's own).
    std::vector<std::pair<std::string, const CLI::App*>> left;
    for (const std::string& word : app.remaining())
        left.emplace_back(word, nullptr);
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        for (const std::string& word : sub->remaining())
            left.emplace_back(word, sub);
    if (left.empty())
        return {};
    std::vector<bool> used(std::size_t(argc), false);
    std::vector<std::pair<int, std::string>> placed;
    std::vector<const CLI::App*> owners(std::size_t(argc) + 1, nullptr);
    for (const auto& [word, owner] : left) {
        int at = argc;
        for (int i = 1; i < argc; ++i)
            if (!used[std::size_t(i)] && word == argv[i]) {
                used[std::size_t(i)] = true;
                at = i;
                break;
            }
        placed.emplace_back(at, word);
        owners[std::size_t(at)] = owner;
    }
    std::stable_sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [at, word] : placed)
        if (word.size() > 1 && word[0] == '-') {
            const CLI::App* command = owners[std::size_t(at)];
            if (!command)
                return tr("{0} is not an option (vrindel-cli --help lists them)", word);
            const std::string name = command->get_name();
            // A record's name may start with a dash: the parser takes it for an option.
            if (!command->get_options([](const CLI::Option* o) { return o->get_positional(); }).empty())
                return tr("{0} is not an option of {1}; a name that starts with - goes after --, as in: vrindel-cli "
                          "{1} -- {0}",
                          word, name);
            return tr("{0} is not an option of {1} (vrindel-cli help {1} lists them)", word, name);
        }
    std::string words;
    for (const auto& [at, word] : placed)
        words += (words.empty() ? "" : " ") + word;
    return placed.size() == 1 ? tr("The following argument was not expected: {0}", words)
                              : tr("The following arguments were not expected: {0}", words);
}

int usageError(const std::string& message) {
    std::fputs(("vrindel-cli: " + message + "\n" + _("Run \"vrindel-cli --help\" for more information.") + "\n").c_str(),
               stderr);
    return exitcode::Usage;
}

// The word where the command should be, if any: after the options that
// come before it.
int commandWordAt(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-C" || arg == "--directory")
            ++i;
        else if (arg.empty() || arg[0] != '-')
            return i;
        else if (arg == "--")
            return i + 1 < argc ? i + 1 : 0;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    vrindel::giveLargeBlocksBack();
    startMessages();
    CLI::App app{_("The Vrindel catalogue (Zoznam.dat in the current folder) from the command line."), "vrindel-cli"};
    // CLI11's own messages as every other of the program's: named, on one line.
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "vrindel-cli: " + parserMessage(e) + "\n" + _("Run \"vrindel-cli --help\" for more information.") + "\n";
    });
    // The help's own words, for every command: they share the formatter,
    // and each copies the help flag and the option group when it is made.
    const auto formatter = std::make_shared<HelpFormatter>();
    app.formatter(formatter);
    formatter->label("Usage", _("Usage"));
    formatter->label("OPTIONS", _("OPTIONS"));
    formatter->label("SUBCOMMAND", _("SUBCOMMAND"));
    formatter->label("Positionals", _("Positionals"));
    formatter->label("REQUIRED", _("REQUIRED"));
    app.option_defaults()->group(_("Options"));
    app.set_help_flag("-h,--help", _("Print this help message and exit"));
    app.set_version_flag("--version", "vrindel-cli 2.1", _("print the version and exit"));
    app.require_subcommand(1);
    app.fallthrough(false);
    // Words the parser cannot place are told by this program, in the order typed.
    app.allow_extras();
    std::string folder;
    bool menu = false, quietly = false, noProgress = false;
    CLI::Option* directory =
        app.add_option("-C,--directory", folder, _("work on the catalogue in DIR, as if started there"))
            ->option_text(_("DIR"));
    app.add_flag("--menu", menu,
                 _("work on the catalogue the desktop menu's window works on (~/.local/share/vrindel, or ~ if "
                   "~/Zoznam.dat exists)"))
        ->excludes(directory);
    app.add_flag("-q,--quiet", quietly, _("no progress bar and no summary of a change; only errors and warnings"));
    app.add_flag("--no-progress", noProgress, _("no progress bar on a terminal"));
    app.footer(_("Exit codes: 0 success, 1 nothing found or problems reported, 2 wrong usage, 3 file error,\n"
                 "4 the catalogue is open in a window or another command (a change is refused).\n"
                 "\"vrindel-cli help COMMAND\" tells more of each. See vrindel-cli(1).") +
               std::string("\n") +
               _("Without -C or --menu the catalogue is in the folder VRINDEL_DIR names, else in the current one."));

    std::vector<std::unique_ptr<Command>> commands;
    for (auto make : {makeList, makeFind, makeAdd, makeRename, makeRelocate, makeDelete, makeExport, makeImport,
                      makeScan, makeMerge, makeCheck, makeCompleteNames})
        commands.push_back(make(app));
    CLI::App* help = app.add_subcommand("help", _("Tell what a command does (or list the commands)"));
    help->group(_("Subcommands"));
    help->get_help_ptr()->group(_("Options"));
    std::string topic;
    help->add_option("COMMAND", topic, _("the command to tell of"));
    for (CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        sub->allow_extras();

    if (const int at = commandWordAt(argc, argv); at > 0) {
        const std::string word = argv[at];
        try {
            app.get_subcommand(word);
        } catch (const CLI::OptionNotFound&) {
            return notACommand(app, word);
        }
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e) == 0 ? exitcode::Ok : exitcode::Usage;
        // A word the command does not take explains a missing one best:
        // `delete -weird` lacks its name because -weird was taken for an option.
        if (const std::string extras = extrasMessage(app, argc, argv); !extras.empty())
            return usageError(extras);
        return app.exit(e) == 0 ? exitcode::Ok : exitcode::Usage;
    }
    if (const std::string extras = extrasMessage(app, argc, argv); !extras.empty())
        return usageError(extras);
    allowProgress(!quietly && !noProgress);
    setQuiet(quietly);

    if (help->parsed()) {
        if (topic.empty()) {
            // Not app.help(), which tells of the command chosen: "help" itself.
            std::fputs(app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal).c_str(), stdout);
            return exitcode::Ok;
        }
        try {
            std::fputs(app.get_subcommand(topic)->help("vrindel-cli").c_str(), stdout);
        } catch (const CLI::OptionNotFound&) {
            return notACommand(app, topic);
        }
        return exitcode::Ok;
    }

    try {
        const Command* chosen = nullptr;
        for (const auto& command : commands)
            if (command->chosen())
                chosen = command.get();
        if (menu) {
            const MenuFolder place = menuFolder(homeFolder());
            folder = place.path;
            struct stat st {};
            if (place.create && ::stat(folder.c_str(), &st) != 0) {
                // Made only for a command that makes the catalogue there.
                if (!chosen || !chosen->createsCatalogue()) {
                    setFolder(folder);
                    throw Failure(exitcode::FileError, tr("{0}: no catalogue in this folder", shown(ListFileName)));
                }
                createFolders(folder);
            }
        } else if (folder.empty()) {
            folder = defaultFolder().value_or("");
        }
        if (!folder.empty() && ::chdir(folder.c_str()) != 0)
            throw Failure(exitcode::FileError, tr("{0}: cannot enter: {1}", folder, std::strerror(errno)));
        setFolder(folder);
        if (chosen)
            return const_cast<Command*>(chosen)->run();
    } catch (const Failure& f) {
        warn(f.what());
        return f.code();
    } catch (const vrindel::IoError& e) {
        warn(reason(e));
        return exitcode::FileError;
    } catch (const std::exception& e) {
        warn(e.what());
        return exitcode::FileError;
    }
    return exitcode::Usage;
}
