#include "Command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "CatalogueFiles.h"
#include "FileLayer.h"
#include "Texts.h"

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

struct ReadResult {
    bool missing = false;
    bool damaged = false;
    bool whole = true;
};

// Whether the catalogue can be read, for a change refused access: then
// it is only read-only, and the message says so.
bool readableOnly() {
    FileVar listFile;
    listFile.setReadingOnly(true);
    listFile.assign(ListFileName);
    try {
        listFile.reset(ListRecordSize);
        listFile.close();
        return true;
    } catch (const IoError&) {
        return false;
    }
}

ReadResult readCatalogueFile(Catalogue& catalogue) {
    // Looking needs no write access: a catalogue on a read-only mount or
    // disc, or one the user may only read, can be listed.
    FileVar listFile;
    listFile.setReadingOnly(true);
    listFile.assign(ListFileName);
    ReadResult result;
    if (!listFile.exists()) {
        result.missing = true;
        return result;
    }
    Messages messages;
    try {
        result.whole = readCatalogue(listFile, catalogue, messages);
    } catch (const IoError& e) {
        throw Failure(exitcode::FileError, shown(ListFileName) + ": cannot read: " + e.what());
    }
    result.damaged = messages.damaged;
    return result;
}

}  // namespace

void setFolder(const std::string& folder) { folder_ = folder; }

std::string shown(const std::string& name) {
    if (folder_.empty() || folder_ == ".")
        return name;
    return folder_ + (folder_.back() == '/' ? "" : "/") + name;
}

// Whatever a message quotes (a record text, a file's name, a byte a reader
// stumbled on) reaches the terminal with its control characters shown.
void warn(const std::string& message) { std::fprintf(stderr, "vrindel-cli: %s\n", printable(message).c_str()); }

void refuseCatalogueAsStandardOutput() {
    struct stat out {}, list {};
    if (::fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode) && ::stat(ListFileName, &list) == 0 &&
        out.st_dev == list.st_dev && out.st_ino == list.st_ino)
        throw Failure(exitcode::Usage, "standard output is the catalogue itself; nothing was written");
}

InputFile::InputFile(const std::string& path, const std::string& shownName)
    : standardInput_(path == "-"), shownName_(shownName) {
    fd_ = standardInput_ ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        throw Failure(exitcode::FileError, shownName_ + ": cannot open: " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
        if (!standardInput_)
            ::close(fd_);
        throw Failure(exitcode::FileError, shownName_ + ": cannot read: " + std::strerror(EISDIR));
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
            throw Failure(exitcode::FileError, shownName_ + ": cannot read: " + std::strerror(errno));
    }
}

Command::Command(CLI::App& parent, const std::string& name, const std::string& summary, const std::string& more)
    : app_(parent.add_subcommand(name, summary)) {
    if (!more.empty())
        app_->footer(more);
}

void Command::tellOfRecovery(const JournalRecovery& recovery) {
    if (recovery.rolledBack)
        warn(shown(ListFileName) + ": a save that was cut short has been undone from its journal (" + recovery.journal +
             "); the catalogue is as it was before that save");
    else if (recovery.stuck)
        warn(shown(ListFileName) + ": a save was cut short and could not be undone (" + recovery.reason +
             "); its journal " + recovery.journal + " is kept for the next try");
}

void Command::readForLooking(Catalogue& catalogue) {
    // A journal says the file may be half saved. Reading takes no lock, but
    // putting it back does; while a window or command holds it, the save
    // may still be going on and is left alone.
    FileVar probe;
    probe.assign(ListFileName);
    if (journalPending(systemFileSystem(), probe.place())) {
        const CatalogueLock lock = CatalogueLock::tryAcquire(probe.place());
        if (lock.held())
            tellOfRecovery(recoverFromJournal(systemFileSystem(), probe.place()));
    }
    const ReadResult read = readCatalogueFile(catalogue);
    if (read.missing)
        throw Failure(exitcode::FileError, shown(ListFileName) + ": no catalogue in this folder");
    if (read.damaged)
        warn(shown(ListFileName) + ": damaged: it ends in the middle of a record; the " +
             std::to_string(catalogue.storageCount()) + " records before the damage follow");
    else if (!read.whole)
        warn(shown(ListFileName) + ": could be read only in part; " + std::to_string(catalogue.storageCount()) +
             " records follow");
}

Command::Change::Change() {
    listFile.assign(ListFileName);
    optionsFile.assign(OptionsFileName);
}

void Command::readForChanging(Change& change, bool mayCreate) {
    switch (change.session.lock()) {
    case CatalogueLock::State::Held:
        tellOfRecovery(change.session.recovery());
        break;
    case CatalogueLock::State::Busy:
        throw Failure(exitcode::Busy, shown(ListFileName) +
                                          ": the catalogue is open in a Vrindel window or in another command; "
                                          "nothing was changed");
    case CatalogueLock::State::Unlocked:
        // A name that leads to no usable file says why, as a read would.
        if (const int err = change.listFile.place().openError(); err != 0)
            throw Failure(exitcode::FileError,
                          shown(ListFileName) + ": cannot read: " + IoError::fromErrno(err).what());
        throw Failure(exitcode::FileError, shown(ListFileName) +
                                               ": cannot lock the catalogue (its folder cannot be read and no file "
                                               "is there to lock: " +
                                               std::strerror(change.session.heldLock().error()) + "); nothing was changed");
    }
    if (!change.listFile.exists()) {
        if (!mayCreate)
            throw Failure(exitcode::FileError, shown(ListFileName) + ": no catalogue in this folder");
        change.session.startEmpty();
        return;
    }
    Messages messages;
    bool whole = false;
    try {
        whole = change.session.readCatalogue(change.catalogue, messages);
    } catch (const IoError& e) {
        if (e.code() == io::AccessDenied && readableOnly())
            throw Failure(exitcode::FileError, shown(ListFileName) +
                                                   ": read-only: a change needs write access to the catalogue (" +
                                                   e.what() + "); nothing was changed");
        throw Failure(exitcode::FileError, shown(ListFileName) + ": cannot read: " + e.what());
    }
    if (messages.damaged || !whole || !change.session.catalogueRead())
        throw Failure(exitcode::FileError,
                      shown(ListFileName) + ": damaged" +
                          (messages.damaged ? std::string(" (it ends in the middle of a record)") : std::string()) +
                          "; nothing was changed, so that no record is lost. `vrindel-cli check` tells more.");
}

void Command::save(Change& change, const Catalogue& catalogue) {
    try {
        change.session.saveCatalogue(catalogue);
    } catch (const IoError& e) {
        throw Failure(exitcode::FileError,
                      shown(ListFileName) + ": cannot save: " + e.what() +
                          (change.listFile.rollbackPending()
                               ? "; it will be put back as it was when the catalogue is next opened"
                               : "; the file is as it was"));
    }
    warnUnsyncedFolder("vrindel-cli", change.session.unsyncedFolder());
    if (const std::size_t conflicts = change.session.conflictRecords())
        warn(shown(ListFileName) + ": " + std::to_string(conflicts) +
             (conflicts == 1 ? " record" : " records") +
             " another program wrote meanwhile could not be merged; they are in " + change.session.conflictFile() +
             " (vrindel-cli import reads them back)");
    if (const std::size_t merged = change.session.mergedRecords())
        warn(shown(ListFileName) + ": another program added " + std::to_string(merged) +
             (merged == 1 ? " record" : " records") + " meanwhile; kept after this command's own");
}

std::size_t Command::writeRecords(const Catalogue& catalogue, Format format, bool sorted, std::FILE* out,
                                  const std::function<bool(std::string_view, std::string_view)>& keep,
                                  Progress* progress, CsvStyle csv) {
    const std::size_t count = std::size_t(catalogue.storageCount());
    std::vector<int> order;
    if (sorted) {
        if (progress)
            progress->stage("sorting");
        order = catalogue.storageInNameOrder();
    }
    if (out == stdout)
        refuseCatalogueAsStandardOutput();
    if (progress)
        progress->stage("writing", count);
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
        throw Failure(exitcode::FileError, std::string("cannot write the output: ") + std::strerror(errno));
    return written;
}

std::string Command::storable(const std::string& utf8, const char* what) {
    if (utf8.empty())
        throw Failure(exitcode::Problems, std::string("the ") + what + " is empty; nothing was changed");
    Converted text = toRecordText(utf8, what);
    if (text.problem.empty())
        text.problem = controlProblem(text.bytes, what);
    if (!text.problem.empty())
        throw Failure(exitcode::Problems, text.problem + "; nothing was changed");
    return text.bytes;
}

int Command::findRecord(const Catalogue& catalogue, const std::string& utf8Name) {
    const Converted name = toRecordText(utf8Name, "name");
    const int i = name.problem.empty() ? catalogue.findInDisplay(name.bytes) : -1;
    if (i < 0)
        throw Failure(exitcode::Problems, shown(ListFileName) + ": no record named \"" + printable(utf8Name) + "\"; nothing was changed");
    return i;
}

void Command::addFormatOption(Format& format, const std::string& help, bool text) {
    // Taken by name only: neither CLI11's internal numbers ("3" for json)
    // nor its table of them reach the user.
    std::vector<std::string> names;
    for (const auto& entry : formatNames())
        names.push_back(entry.first);   // text too: a command that takes none says why
    app_->add_option_function<std::string>(
            "--format", [&format](const std::string& name) { format = formatNames().at(CLI::detail::to_lower(name)); },
            help)
        ->check(CLI::IsMember(names, CLI::ignore_case))
        ->option_text(text ? "text|csv|tsv|json" : "csv|tsv|json");
}

void Command::addSortedOption(bool& sorted) {
    app_->add_flag("--sorted", sorted, "in the window's name order instead of the order of entry");
}

}  // namespace vrindel::cli
