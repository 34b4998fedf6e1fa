#include "Command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Folders.h"
#include "Messages.h"
#include "Texts.h"
#include "store/held/HeldFile.h"

namespace vrindel::cli {

namespace {

std::string folder_;

// The window's two file messages, as a terminal tool says them.
class Messages : public FileMessages {
public:
    void listFileMissing() override {}
    void listFileDamaged() override { damaged = true; }
    bool damaged = false;
};

// Whether the catalogue can be read, for a change refused access: then
// it is only read-only, and the message says so.
bool readableOnly() {
    CatalogueStore looking;
    looking.openForLooking();
    return looking.catalogueOpens();
}

}  // namespace

void setFolder(const std::string& folder) { folder_ = folder; }

Failure noCatalogueHere() {
    const std::string menu = menuFolder(homeFolder()).path + "/" + ListFileName;
    struct stat st {};
    if (::stat(menu.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !sameFile(menu, ListFileName))
        return Failure(exitcode::FileError,
                       tr("{0}: no catalogue in this folder; the desktop menu's catalogue is {1} (vrindel-cli --menu "
                          "works on it)",
                          shown(ListFileName), menu));
    return Failure(exitcode::FileError, tr("{0}: no catalogue in this folder", shown(ListFileName)));
}

std::string shown(const std::string& name) {
    if (folder_.empty() || folder_ == ".")
        return name;
    return folder_ + (folder_.back() == '/' ? "" : "/") + name;
}

// Whatever a message quotes (a record text, a file's name, a byte a reader
// stumbled on) reaches the terminal with its control characters shown.
void warn(const std::string& message) { std::fprintf(stderr, "vrindel-cli: %s\n", printable(message).c_str()); }

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool isFileOfTheFolder(const std::string& path, const char* name) {
    if (sameFile(path, name))
        return true;
    const HeldFile target = HeldFile::resolve(systemFileSystem(), path);
    const HeldFile file = HeldFile::resolve(systemFileSystem(), name);
    return !target.error() && !file.error() && target.sameAs(file);
}

void refuseCatalogueAsStandardOutput() {
    struct stat out {}, file {};
    const auto isOutput = [&](const char* name) {
        return ::stat(name, &file) == 0 && out.st_dev == file.st_dev && out.st_ino == file.st_ino;
    };
    if (::fstat(STDOUT_FILENO, &out) != 0 || !S_ISREG(out.st_mode))
        return;
    if (isOutput(ListFileName))
        throw Failure(exitcode::Usage, _("standard output is the catalogue itself; nothing was written"));
    if (isOutput(OptionsFileName))
        throw Failure(exitcode::Usage, _("standard output is the switches file (Options.dat); nothing was written"));
}

InputFile::InputFile(const std::string& path, const std::string& shownName)
    : standardInput_(path == "-"), shownName_(shownName) {
    fd_ = standardInput_ ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        throw Failure(exitcode::FileError, tr("{0}: cannot open: {1}", shownName_, std::strerror(errno)));
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
        if (!standardInput_)
            ::close(fd_);
        throw Failure(exitcode::FileError, tr("{0}: cannot read: {1}", shownName_, std::strerror(EISDIR)));
    }
    if (S_ISREG(st.st_mode))
        size_ = std::size_t(st.st_size);
}

InputFile::~InputFile() {
    if (!standardInput_ && fd_ >= 0)
        ::close(fd_);
}

std::size_t InputFile::read(char* into, std::size_t room) {
    for (;;) {
        const ssize_t n = ::read(fd_, into, room);
        if (n >= 0) {
            read_ += std::size_t(n);
            return std::size_t(n);
        }
        if (errno != EINTR)
            throw Failure(exitcode::FileError, tr("{0}: cannot read: {1}", shownName_, std::strerror(errno)));
    }
}

Command::Command(CLI::App& parent, const std::string& name, const std::string& summary, const std::string& more)
    : app_(parent.add_subcommand(name, summary)) {
    app_->group(_("Subcommands"));
    app_->get_help_ptr()->group(_("Options"));   // made before the parent's option group reached it
    if (!more.empty())
        app_->footer(more);
}

std::string Command::refusalText(JournalRefusal why) {
    switch (why) {
    case JournalRefusal::NotRegular: return _("not a regular file");
    case JournalRefusal::Foreign: return _("its owner may not write the catalogue");
    case JournalRefusal::Writable: return _("others may write it");
    case JournalRefusal::OtherFile: return _("it is for another file");
    case JournalRefusal::Oversized: return _("its lengths are larger than its content");
    case JournalRefusal::Changed: return _("the catalogue was written by other means since");
    }
    return {};
}

std::string Command::stuckJournalText(const Opening& opening) {
    if (opening.journal.empty())
        return tr("{0}: a save in place was cut short and its journal could not be applied; the catalogue may be "
                  "half-saved",
                  shown(ListFileName));
    if (opening.journalOwner == "root")
        return tr("{0}: a save was cut short and its journal {1} cannot be applied ({2}); the catalogue may be "
                  "half-saved until root opens it",
                  shown(ListFileName), opening.journal, opening.rollbackReason);
    return tr("{0}: a save was cut short and its journal {1} cannot be applied ({2}); the catalogue may be half-saved "
              "until {3} or root opens it",
              shown(ListFileName), opening.journal, opening.rollbackReason, opening.journalOwner);
}

void Command::tellOfRecovery(const Opening& opening) {
    for (const RefusedJournal& refused : opening.refusedJournals)
        warn(tr("{0}: {1} is not a journal of this catalogue's saves ({2}); it was neither applied nor removed",
                shown(ListFileName), refused.journal, refusalText(refused.why)));
    if (opening.rolledBack)
        warn(tr("{0}: a save that was cut short has been undone from its journal ({1}); the catalogue is as it was "
                "before that save",
                shown(ListFileName), opening.journal));
}

void Command::readForLooking(Catalogue& catalogue) {
    CatalogueStore store;
    readForLooking(store, catalogue);
}

namespace {

// The warnings of a catalogue read for looking, `count` records read.
void tellOfReading(const Messages& messages, bool whole, unsigned count) {
    if (messages.damaged)
        warn(trn("{0}: damaged: it ends in the middle of a record; the {1} record before the damage follows",
                 "{0}: damaged: it ends in the middle of a record; the {1} records before the damage follow", count,
                 shown(ListFileName), count));
    else if (!whole)
        warn(trn("{0}: could be read only in part; {1} record follows",
                 "{0}: could be read only in part; {1} records follow", count, shown(ListFileName), count));
}

}  // namespace

void Command::readForLooking(const std::function<void(std::string_view, std::string_view)>& each) {
    CatalogueStore store;
    openForLooking(store);
    Messages messages;
    bool whole = true;
    unsigned count = 0;
    try {
        whole = store.readCatalogue(
            [&](std::string_view name, std::string_view location) {
                each(name, location);
                ++count;
            },
            messages);
    } catch (const IoError& e) {
        throw Failure(exitcode::FileError, tr("{0}: cannot read: {1}", shown(ListFileName), reason(e)));
    }
    tellOfReading(messages, whole, count);
}

void Command::openForLooking(CatalogueStore& store) {
    // Looking needs no write access: a catalogue on a read-only mount or
    // disc, or one the user may only read, can be listed.
    const Opening& opening = store.openForLooking();
    if (opening.saveInProgress)
        throw Failure(exitcode::Busy, tr("{0}: a save of the catalogue is going on and did not end in time; nothing "
                                         "was read",
                                         shown(ListFileName)));
    tellOfRecovery(opening);
    if (opening.rollbackStuck)
        warn(stuckJournalText(opening));
    if (!store.catalogueExists())
        throw noCatalogueHere();
}

void Command::readForLooking(CatalogueStore& store, Catalogue& catalogue, bool indexed, bool commonAtSave) {
    openForLooking(store);
    Messages messages;
    bool whole = true;
    try {
        whole = store.readCatalogue(catalogue, messages, indexed, commonAtSave);
    } catch (const IoError& e) {
        throw Failure(exitcode::FileError, tr("{0}: cannot read: {1}", shown(ListFileName), reason(e)));
    }
    tellOfReading(messages, whole, unsigned(catalogue.storageCount()));
}

void Command::readForChanging(Change& change, bool mayCreate, bool indexed, bool commonAtSave) {
    const Opening& opening = change.store.open();
    switch (opening.lock) {
    case LockState::Held:
        tellOfRecovery(opening);
        if (opening.rollbackStuck)
            throw Failure(exitcode::FileError, tr("{0}; nothing was changed", stuckJournalText(opening)));
        break;
    case LockState::Busy:
        throw Failure(exitcode::Busy, tr("{0}: the catalogue is open in a Vrindel window or in another command; "
                                         "nothing was changed",
                                         shown(ListFileName)));
    case LockState::Unlocked:
        // A name that leads to no usable file says why, as a read would.
        if (opening.catalogueError != 0)
            throw Failure(exitcode::FileError, tr("{0}: cannot read: {1}", shown(ListFileName),
                                                  reason(IoError::fromErrno(opening.catalogueError))));
        throw Failure(exitcode::FileError, tr("{0}: cannot lock the catalogue (its folder cannot be read and no file "
                                              "is there to lock: {1}); nothing was changed",
                                              shown(ListFileName), std::strerror(opening.lockError)));
    }
    if (!change.store.catalogueExists()) {
        if (!mayCreate)
            throw noCatalogueHere();
        change.store.startEmpty();
        return;
    }
    Messages messages;
    bool whole = false;
    try {
        whole = change.store.readCatalogue(change.catalogue, messages, indexed, commonAtSave);
    } catch (const IoError& e) {
        if (e.code() == io::AccessDenied && readableOnly())
            throw Failure(exitcode::FileError,
                          tr("{0}: read-only: a change needs write access to the catalogue ({1}); nothing was changed",
                             shown(ListFileName), reason(e)));
        throw Failure(exitcode::FileError, tr("{0}: cannot read: {1}", shown(ListFileName), reason(e)));
    }
    if (messages.damaged || !whole || !change.store.catalogueRead())
        throw Failure(exitcode::FileError,
                      messages.damaged ? tr("{0}: damaged (it ends in the middle of a record); nothing was changed, so "
                                            "that no record is lost. `vrindel-cli check` tells more.",
                                            shown(ListFileName))
                                       : tr("{0}: damaged; nothing was changed, so that no record is lost. "
                                            "`vrindel-cli check` tells more.",
                                            shown(ListFileName)));
}

void Command::save(Change& change) { tellOfSave(change.store.saveCatalogue(change.catalogue)); }

void Command::saveAppended(Change& change, const std::vector<std::pair<int, std::string_view>>& readWith) {
    tellOfSave(change.store.saveAppended(change.catalogue, readWith));
}

void Command::tellOfSave(const SaveReport& report) {
    if (const SaveReport::Failure* failed = report.failure(StoredFile::Catalogue))
        throw Failure(exitcode::FileError,
                      failed->rollbackPending
                          ? tr("{0}: cannot save: {1}; it will be put back as it was when the catalogue is next opened",
                               shown(ListFileName), reason(failed->error))
                          : tr("{0}: cannot save: {1}; the file is as it was", shown(ListFileName),
                               reason(failed->error)));
    if (const int err = report.unsyncedFolder)
        warn(tr("saved, but the folder could not be synced ({0}); the save may not survive a power cut",
                std::strerror(err)));
    if (const std::size_t conflicts = report.conflicts)
        warn(trn("{0}: {1} record another program wrote meanwhile could not be merged; it is in {2} "
                 "(vrindel-cli import reads it back)",
                 "{0}: {1} records another program wrote meanwhile could not be merged; they are in {2} "
                 "(vrindel-cli import reads them back)",
                 conflicts, shown(ListFileName), conflicts, report.conflictFile));
    for (const std::string& kept : report.keptDamaged)
        warn(tr("{0}: a file that was not as a save writes it was kept byte for byte as {1} before it was saved",
                shown(ListFileName), kept));
    if (const std::size_t merged = report.merged)
        warn(trn("{0}: another program added {1} record meanwhile; kept after this command's own",
                 "{0}: another program added {1} records meanwhile; kept after this command's own", merged,
                 shown(ListFileName), merged));
}

void Command::readForAdding(Change& change, bool dryRun) {
    if (!dryRun) {
        readForChanging(change, true, false, true);
        return;
    }
    // A dry run looks only, and finds a missing catalogue empty.
    const Opening& opening = change.store.openForLooking();
    if (opening.saveInProgress || change.store.catalogueExists())
        readForLooking(change.store, change.catalogue, false, true);
}

std::size_t Command::writeRecords(const Catalogue& catalogue, Format format, bool sorted, std::FILE* out,
                                  const std::function<bool(std::string_view, std::string_view)>& keep,
                                  Progress* progress, CsvStyle csv) {
    const std::size_t count = std::size_t(catalogue.storageCount());
    std::vector<int> order;
    if (sorted) {
        if (progress)
            progress->stage(_("sorting"));
        order = catalogue.storageInNameOrder();
    }
    if (out == stdout)
        refuseCatalogueAsStandardOutput();
    if (progress)
        progress->stage(_("writing"), count);
    RecordWriter writer(format, out, csv);
    std::size_t written = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const int j = sorted ? order[k] : int(k);
        const RecordText name = catalogue.storageName(j);
        const RecordText location = catalogue.storageLocation(j);
        if (keep && !keep(name.view(), location.view()))
            continue;
        writer.record(name.view(), location.view());
        ++written;
        if (progress && (k & 0xFFF) == 0)
            progress->advance(k);
    }
    if (!writer.finish())
        throw Failure(exitcode::FileError, tr("cannot write the output: {0}", std::strerror(errno)));
    return written;
}

std::string Command::storable(const std::string& utf8, const char* what) {
    if (utf8.empty())
        throw Failure(exitcode::Problems, std::string_view(what) == "location" ? _("the location is empty; nothing was changed")
                                          : std::string_view(what) == "new name" ? _("the new name is empty; nothing was changed")
                                                                                 : _("the name is empty; nothing was changed"));
    Converted text = toRecordText(utf8, what);
    if (text.problem.empty())
        text.problem = controlProblem(text.bytes, what);
    if (!text.problem.empty())
        throw Failure(exitcode::Problems, tr("{0}; nothing was changed", text.problem));
    return text.bytes;
}

int Command::findRecord(const Catalogue& catalogue, const std::string& utf8Name) {
    const Converted name = toRecordText(utf8Name, "name");
    const int i = name.problem.empty() ? catalogue.findInDisplay(name.bytes) : -1;
    if (i < 0)
        throw Failure(exitcode::Problems,
                      tr("{0}: no record named \"{1}\"; nothing was changed", shown(ListFileName), printable(utf8Name)));
    return i;
}

void Command::addFormatOption(Format& format, const std::string& help, bool text, const char* shown) {
    // Taken by name only: neither CLI11's internal numbers ("3" for json)
    // nor its table of them reach the user.
    std::vector<std::string> names;
    for (const auto& entry : formatNames())
        if (shown || !isWorkbook(entry.second))
            names.push_back(entry.first);   // text too: a command that takes none says why
    app_->add_option_function<std::string>(
            "--format", [&format](const std::string& name) { format = formatNames().at(CLI::detail::to_lower(name)); },
            help)
        ->check(CLI::IsMember(names, CLI::ignore_case))
        ->option_text(shown ? shown : text ? "text|csv|tsv|json" : "csv|tsv|json");
}

void Command::addSortedOption(bool& sorted) {
    app_->add_flag("--sorted", sorted, _("in the window's name order instead of the order of entry"));
}

}  // namespace vrindel::cli
