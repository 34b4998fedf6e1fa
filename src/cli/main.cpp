// vrindel-cli: the catalogue of the folder at hand ("Zoznam.dat"), outside
// the window. A terminal tool: its messages are English, on standard error.

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Command.h"
#include "Errors.h"

using namespace vrindel::cli;

int main(int argc, char** argv) {
    CLI::App app{"The Vrindel catalogue (Zoznam.dat in the current folder) from the command line.", "vrindel-cli"};
    app.set_version_flag("--version", "vrindel-cli 2.1", "print the version and exit");
    app.require_subcommand(1);
    app.fallthrough(false);
    std::string folder;
    app.add_option("-C,--directory", folder, "work on the catalogue in DIR, as if started there")->option_text("DIR");
    app.footer("Exit codes: 0 success, 1 nothing found or problems reported, 2 wrong usage, 3 file error,\n"
               "4 the catalogue is open in a window or another command (a change is refused).\n"
               "See vrindel-cli(1).");

    std::vector<std::unique_ptr<Command>> commands;
    for (auto make : {makeList, makeFind, makeAdd, makeRename, makeRelocate, makeDelete, makeExport, makeImport,
                      makeScan, makeCheck})
        commands.push_back(make(app));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? exitcode::Ok : exitcode::Usage;
    }

    try {
        if (!folder.empty() && ::chdir(folder.c_str()) != 0)
            throw Failure(exitcode::FileError, folder + ": cannot enter: " + std::strerror(errno));
        setFolder(folder);
        for (const auto& command : commands)
            if (command->chosen())
                return command->run();
    } catch (const Failure& f) {
        warn(f.what());
        return f.code();
    } catch (const vrindel::IoError& e) {
        warn(e.what());
        return exitcode::FileError;
    } catch (const std::exception& e) {
        warn(e.what());
        return exitcode::FileError;
    }
    return exitcode::Usage;
}
