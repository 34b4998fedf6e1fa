#pragma once
// What every command of vrindel-cli shares: its place among the
// subcommands, the catalogue read for looking or for changing, the lock that
// goes with changing, the save, and how a failure ends the program.

#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>

#include "records/Catalogue.h"
#include "store/CatalogueStore.h"
#include "Formats.h"
#include "Progress.h"
#include "RecordBatch.h"

namespace vrindel::cli {

// The exit codes, as the manual page lists them.
namespace exitcode {
inline constexpr int Ok = 0;
inline constexpr int Problems = 1;   // nothing found, or problems reported
inline constexpr int Usage = 2;
inline constexpr int FileError = 3;
inline constexpr int Busy = 4;       // a window or another command holds the catalogue
}  // namespace exitcode

// Ends a command: the message (naming the file and the reason) goes to
// standard error, the code is the program's exit code.
class Failure : public std::runtime_error {
public:
    Failure(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

// The folder the catalogue is in, as the user named it (-C), for messages.
void setFolder(const std::string& folder);
// A file of the catalogue's folder as messages name it: "Zoznam.dat", or
// "DIR/Zoznam.dat" under -C.
std::string shown(const std::string& name);

// "no catalogue in this folder" (exit 3), naming the desktop menu's
// catalogue when there is one elsewhere: the user may have meant that one.
Failure noCatalogueHere();

void warn(const std::string& message);   // "vrindel-cli: " + message, on stderr
// Ends the command (exit 2) when standard output is the catalogue file or
// the switches file, by any of their names (`vrindel-cli export >>
// Zoznam.dat`): the text would become garbage records or switches.
void refuseCatalogueAsStandardOutput();
// Whether `path` is the file `name` of the catalogue's folder (the working
// folder): by any of its names, or, where nothing is yet, the name that a
// file written at `path` would take, through any link.
bool isFileOfTheFolder(const std::string& path, const char* name);
// Whether two paths name the same file (by any of its names); false when
// either cannot be looked at.
bool sameFile(const std::string& a, const std::string& b);

// A file to import (standard input for "-"), read a piece at a time; a
// failure ends the command with a file error naming `shownName`.
class InputFile : public ByteSource {
public:
    InputFile(const std::string& path, const std::string& shownName);
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::size_t read(char* into, std::size_t room) override;
    // The size of a regular file, 0 for anything else.
    std::size_t size() const { return size_; }
    std::size_t bytesRead() const { return read_; }

private:
    int fd_ = -1;
    bool standardInput_ = false;
    std::string shownName_;
    std::size_t size_ = 0;
    std::size_t read_ = 0;
};

class Command {
public:
    Command(CLI::App& parent, const std::string& name, const std::string& summary, const std::string& more = {});
    virtual ~Command() = default;
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    bool chosen() const { return app_->parsed(); }
    // Whether the command, as given, makes a catalogue where there is none:
    // only then is the menu's folder made for it.
    virtual bool createsCatalogue() const { return false; }
    virtual int run() = 0;

protected:
    // The catalogue as the window reads it. Reading commands take no lock;
    // a damaged file is read as far as it goes, with a warning. A store
    // given is opened for looking and read through.
    static void readForLooking(Catalogue& catalogue);
    static void readForLooking(CatalogueStore& store, Catalogue& catalogue, bool indexed = true,
                               bool commonAtSave = false);
    // The catalogue's records one at a time, in storage order, none of them
    // kept; the same warnings, once the last is handed out.
    static void readForLooking(const std::function<void(std::string_view name, std::string_view location)>& each);
    // Opens a store for looking: a save going on, a journal put back, no
    // catalogue at all each end the command or are told.
    static void openForLooking(CatalogueStore& store);
    // One line on standard error when opening the catalogue put it back
    // from the journal of a save that was cut short, and one for each file
    // named like a journal that was left alone.
    static void tellOfRecovery(const Opening& opening);
    // Why a file named like a journal was left alone, for messages.
    static std::string refusalText(JournalRefusal why);
    // A journal that could not be applied, for messages: where it is and
    // who can resolve it.
    static std::string stuckJournalText(const Opening& opening);

    // The catalogue for a change, through the same store as the window: the
    // lock first (refused with Busy while a window has it), then the file,
    // which must be whole: a change is never saved over records that could
    // not be read. A missing catalogue is an empty one when `mayCreate`, a
    // file error otherwise.
    struct Change {
        CatalogueStore store;
        Catalogue catalogue;
    };
    static void readForChanging(Change& change, bool mayCreate, bool indexed = true, bool commonAtSave = false);
    // The store's save: only to the file that was read, keeping what
    // another program added meanwhile, a temporary file put in place whole
    // (or in place where it must), mode and owner kept.
    static void save(Change& change);
    // The save of a catalogue read by readForAdding: records appended, and
    // those of `readWith` (storage index, ascending) given other locations
    // than the ones they were read with.
    static void saveAppended(Change& change, const std::vector<std::pair<int, std::string_view>>& readWith);
    // What a save of the catalogue did: a failure ends the command (exit 3),
    // anything else worth knowing is a warning.
    static void tellOfSave(const SaveReport& report);
    // For the commands that add many records at once (import, scan): the
    // catalogue locked for the change, or only read for a dry run, a
    // missing one being empty then. Its indexes are left unbuilt: records
    // appended and saved never need them, and they would cost more than
    // the records themselves; nor is the catalogue as read kept beside it
    // for the merge of another program's changes (saveAppended works it
    // out).
    static void readForAdding(Change& change, bool dryRun);

    // Writes the records that `keep` accepts (all when it is empty), in
    // storage order or in the sorted view's order; returns how many.
    static std::size_t writeRecords(const Catalogue& catalogue, Format format, bool sorted, std::FILE* out,
                                    const std::function<bool(std::string_view, std::string_view)>& keep = {},
                                    Progress* progress = nullptr, CsvStyle csv = {});
    // A text for a record, or the command ends with the reason (exit 1);
    // the window stores neither an empty name nor an empty location.
    static std::string storable(const std::string& utf8, const char* what);
    // The display index of the record the window's name match finds, or
    // the command ends: no such record (exit 1).
    static int findRecord(const Catalogue& catalogue, const std::string& utf8Name);
    // --format with its names, and --sorted. A command that reads or
    // writes workbooks names its formats in `shown`; the others never take one.
    void addFormatOption(Format& format, const std::string& help, bool text = true, const char* shown = nullptr);
    void addSortedOption(bool& sorted);

    CLI::App* app_;
};

// Every command, one file each, registered on the program's parser in the
// order --help lists them.
std::unique_ptr<Command> makeList(CLI::App& app);
std::unique_ptr<Command> makeFind(CLI::App& app);
std::unique_ptr<Command> makeAdd(CLI::App& app);
std::unique_ptr<Command> makeRename(CLI::App& app);
std::unique_ptr<Command> makeRelocate(CLI::App& app);
std::unique_ptr<Command> makeDelete(CLI::App& app);
std::unique_ptr<Command> makeExport(CLI::App& app);
std::unique_ptr<Command> makeImport(CLI::App& app);
std::unique_ptr<Command> makeCheck(CLI::App& app);
std::unique_ptr<Command> makeScan(CLI::App& app);
std::unique_ptr<Command> makeMerge(CLI::App& app);
std::unique_ptr<Command> makeCompleteNames(CLI::App& app);

}  // namespace vrindel::cli
