#include <algorithm>
#include <cstdio>
#include <cstring>

#include "store/format/Format.h"
#include "Command.h"
#include "Messages.h"
#include "Texts.h"

namespace vrindel::cli {

namespace {

std::string text(const RecordText& record) { return windows1250ToUtf8(record.view()); }

class MergeCommand : public Command {
public:
    explicit MergeCommand(CLI::App& parent)
        : Command(parent, "merge",
                  _("Merge the records of a conflict copy, or of another catalogue file, into the catalogue"),
                  _("A sync engine that finds Zoznam.dat changed on two computers keeps one version and\n"
                    "renames the other beside it (`vrindel-cli check` lists such copies). A copy has no\n"
                    "common version with the catalogue, so a merge only adds: a record the catalogue lacks\n"
                    "is added; one it lists with another location keeps the catalogue's, and the copy's\n"
                    "goes to a conflict file that import reads back. A record the copy lacks stays.\n"
                    "Examples:\n"
                    "  vrindel-cli merge --dry-run 'Zoznam (conflicted copy 2026-12-07 153000).dat'\n"
                    "  vrindel-cli merge --remove Zoznam.sync-conflict-*.dat\n"
                    "  vrindel-cli merge ../doma/Zoznam.dat")) {
        app_->add_option("FILE", files_,
                         _("a file of the catalogue's format: a conflict copy, another folder's catalogue, a backup"))
            ->required();
        app_->add_flag("--dry-run", dryRun_, _("say what would be merged; write nothing"));
        app_->add_flag("--remove", remove_, _("remove each FILE once the catalogue that holds its records is saved"));
    }

    int run() override {
        std::vector<std::string> files;
        for (const std::string& file : files_)
            if (std::find(files.begin(), files.end(), file) == files.end())
                files.push_back(file);
        for (const std::string& file : files) {
            if (sameFile(file, ListFileName))
                throw Failure(exitcode::Usage, tr("{0}: that is the catalogue itself; nothing was changed", file));
            // A file that cannot be opened is named before anything is read.
            const InputFile input(file, file);
        }

        Change change;
        if (dryRun_)
            readForAdding(change, true);
        else
            readForChanging(change, true);
        try {
            return dryRun_ ? look(change, files) : merge(change, files);
        } catch (const IoError& e) {
            std::string names;
            for (const std::string& file : files)
                names += (names.empty() ? "" : ", ") + file;
            throw Failure(exitcode::FileError, tr("{0}: cannot read: {1}", names, reason(e)));
        }
    }

private:
    int look(Change& change, const std::vector<std::string>& files) {
        const CopyRecords records = change.store.compareCopies(change.catalogue, files);
        for (const CopyRecord& r : records.missing)
            line(tr("would add \"{0}\" at \"{1}\"", text(r.name), text(r.location)));
        for (const CopyRecord& r : records.deleted)
            line(tr("would delete \"{0}\" at \"{1}\": the copy deleted it", text(r.name), text(r.location)));
        for (const CopyRecord& r : records.changed)
            line(tr("would move \"{0}\" from \"{1}\" to \"{2}\"", text(r.name), text(r.kept), text(r.location)));
        for (const CopyRecord& r : records.differing)
            line(r.known ? tr("\"{0}\" stays at \"{1}\"; the other location, \"{2}\", is in a conflict file already",
                              text(r.name), text(r.kept), text(r.location))
                         : tr("\"{0}\" stays at \"{1}\"; the other location, \"{2}\", would go to a conflict file",
                              text(r.name), text(r.kept), text(r.location)));
        tellOfDamage(records);
        if (remove_)
            for (const std::string& file : files)
                if (std::find(records.damaged.begin(), records.damaged.end(), file) == records.damaged.end())
                    line(tr("{0}: would be removed", file));
        const std::size_t added = records.missing.size();
        line(trn("Would merge {0} record into {1}.", "Would merge {0} records into {1}.", added, added,
                 shown(ListFileName)));
        if (const std::size_t changes = records.deleted.size() + records.changed.size())
            line(trn("Would take {0} change the copies made (a record deleted or moved).",
                     "Would take {0} changes the copies made (records deleted or moved).", changes, changes));
        return records.differing.empty() && records.damaged.empty() ? exitcode::Ok : exitcode::Problems;
    }

    int merge(Change& change, const std::vector<std::string>& files) {
        const CopyMerge merged = change.store.mergeCopies(change.catalogue, files, remove_);
        tellOfSave(merged.save);
        const CopyRecords& records = merged.records;
        for (const CopyRecord& r : records.missing)
            line(tr("added \"{0}\" at \"{1}\"", text(r.name), text(r.location)));
        for (const CopyRecord& r : records.deleted)
            line(tr("deleted \"{0}\" at \"{1}\": the copy deleted it", text(r.name), text(r.location)));
        for (const CopyRecord& r : records.changed)
            line(tr("moved \"{0}\" from \"{1}\" to \"{2}\"", text(r.name), text(r.kept), text(r.location)));
        for (const CopyRecord& r : records.differing)
            line(r.known ? tr("\"{0}\" stays at \"{1}\"; the other location, \"{2}\", is in a conflict file already",
                              text(r.name), text(r.kept), text(r.location))
                         : tr("\"{0}\" stays at \"{1}\"; the other location, \"{2}\", is in {3}", text(r.name),
                              text(r.kept), text(r.location), merged.conflictFile));
        tellOfDamage(records);
        for (const std::string& file : merged.removed)
            line(tr("{0}: removed", file));
        bool kept = false;
        for (const CopyMerge::Kept& copy : merged.kept) {
            switch (copy.why) {
            case CopyMerge::Kept::Why::Damaged:
                continue;   // said above
            case CopyMerge::Kept::Why::Changed:
                warn(tr("{0}: not removed: it is no longer the file that was read", copy.path));
                break;
            case CopyMerge::Kept::Why::NotSaved:
                warn(tr("{0}: not removed: the catalogue's save is not known to be on disk", copy.path));
                break;
            case CopyMerge::Kept::Why::Failed:
                warn(tr("{0}: cannot remove: {1}", copy.path, std::strerror(copy.error)));
                break;
            }
            kept = true;
        }
        const std::size_t added = records.missing.size();
        line(trn("Merged {0} record into {1}.", "Merged {0} records into {1}.", added, added, shown(ListFileName)));
        if (const std::size_t changes = records.deleted.size() + records.changed.size(); changes && merged.saved())
            line(trn("Took {0} change the copies made (a record deleted or moved).",
                     "Took {0} changes the copies made (records deleted or moved).", changes, changes));
        return records.differing.empty() && records.damaged.empty() && !kept ? exitcode::Ok : exitcode::Problems;
    }

    static void tellOfDamage(const CopyRecords& records) {
        for (const std::string& file : records.damaged)
            warn(tr("{0}: damaged (it ends in the middle of a record): only its whole records count, and it is never "
                    "removed",
                    file));
    }

    // Record texts and file names reach the terminal with their control
    // characters shown.
    static void line(const std::string& text) { std::printf("%s\n", printable(text).c_str()); }

    std::vector<std::string> files_;
    bool dryRun_ = false;
    bool remove_ = false;
};

}  // namespace

std::unique_ptr<Command> makeMerge(CLI::App& app) { return std::make_unique<MergeCommand>(app); }

}  // namespace vrindel::cli
