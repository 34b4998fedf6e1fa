#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "store/format/Format.h"
#include "Command.h"
#include "Messages.h"
#include "RecordBatch.h"
#include "Texts.h"
#include "VolumeLabel.h"

namespace vrindel::cli {

namespace {

namespace fs = std::filesystem;

class ScanCommand : public Command {
public:
    explicit ScanCommand(CLI::App& parent)
        : Command(parent, "scan", _("Add a record for each file in a folder (a disc, a stick, a shelf of archives)"),
                  _("The name is the file's name, whole; the location is --location, or else the label of\n"
                  "the disc or partition DIR is on. A name longer than 31 characters, one that\n"
                  "Windows-1250 cannot store, or one already listed (or twice in the folder) is reported\n"
                  "with its path and left out, never cut short; the others are added (exit 0).\n"
                  "Examples:\n"
                  "  vrindel-cli scan /media/cdrom --dry-run\n"
                  "  vrindel-cli scan ~/Archiv --location 'Polica 2' --recursive --extensions zip,rar,7z")) {
        app_->add_option("DIR", dir_, _("the folder to look into"))->required();
        app_->add_option("--location", location_, _("where the files are kept (default: the volume label)"))
            ->option_text(_("LABEL"));
        app_->add_flag("-r,--recursive", recursive_, _("look into the folders within it too"));
        app_->add_option("--extensions", extensions_, _("only files with these extensions, letter case ignored"))
            ->delimiter(',')
            ->option_text("zip,rar,...");
        app_->add_flag("--update", update_, _("a file whose name is listed gives that record the location"));
        app_->add_flag("--dry-run", dryRun_, _("say what would be added; write nothing"));
    }

    bool createsCatalogue() const override { return !dryRun_; }

    int run() override {
        std::string location = location_;
        if (!app_->count("--location")) {
            location = volumeLabel(dir_);
            if (location.empty())
                throw Failure(exitcode::Usage,
                              tr("{0}: the filesystem there has no label to use; give --location LABEL", dir_));
        }
        const std::string stored = storable(location, "location");   // ends the command when it cannot be stored

        Progress progress("scan");
        progress.stage(_("looking for files"));
        // A folder's own files first, then its folders', each by name.
        std::vector<std::string> paths;
        std::vector<LeftOut> leftOut;
        look(paths, leftOut, progress);
        const auto inOrder = [](const std::string& a, const std::string& b) {
            const fs::path pa(a), pb(b);
            const int parents = pa.parent_path().compare(pb.parent_path());
            return parents != 0 ? parents < 0 : pa.filename() < pb.filename();
        };
        std::sort(paths.begin(), paths.end(), inOrder);
        std::sort(leftOut.begin(), leftOut.end(),
                  [&](const LeftOut& a, const LeftOut& b) { return inOrder(a.path, b.path); });

        RecordBatch batch;
        batch.refuseControlCharacters();
        for (const std::string& path : paths)
            batch.take(fs::path(path).filename().string(), location);

        Change change;
        readForAdding(change, dryRun_);
        batch.compare(change.catalogue, update_, [&](std::size_t first) {
            return tr("the name is twice in the folder (first at {0})", printable(paths[first]));
        });
        for (const LeftOut& path : leftOut)
            warn(tr("{0}: {1}; left out", printable(path.path), path.why));
        for (const auto& [row, problem] : batch.problems())
            warn(tr("{0}: {1}; left out", printable(paths[row]), problem));

        if (dryRun_) {
            for (const std::size_t row : batch.addedRows())
                std::printf("%s\n", printable(paths[row]).c_str());
        } else {
            progress.stage(_("saving"));
            saveAppended(change, batch.relocatedFrom());
        }
        if (!quiet())
            std::printf("%s\n", summary(batch, stored).c_str());
        // A name the catalogue cannot store is the scan's own answer; a
        // path it could not look at leaves the scan short of what was asked.
        return leftOut.empty() ? exitcode::Ok : exitcode::Problems;
    }

private:
    // With --update a second count, told in a clause of its own.
    std::string summary(const RecordBatch& batch, const std::string& stored) const {
        const std::size_t added = batch.added();
        const std::string location = printable(windows1250ToUtf8(stored));
        const std::string catalogue = shown(ListFileName);
        if (!update_)
            return dryRun_ ? trn("Would add {0} record at \"{1}\" to {2}.", "Would add {0} records at \"{1}\" to {2}.",
                                 added, added, location, catalogue)
                           : trn("Added {0} record at \"{1}\" to {2}.", "Added {0} records at \"{1}\" to {2}.", added,
                                 added, location, catalogue);
        const std::size_t relocated = batch.relocated();
        const std::string moved =
            dryRun_ ? trn("{0} record would move to \"{1}\"", "{0} records would move to \"{1}\"", relocated, relocated,
                          location)
                    : trn("{0} record moved to \"{1}\"", "{0} records moved to \"{1}\"", relocated, relocated, location);
        // TRANSLATORS: {3} is the clause "N records (would) move(d) to ...".
        return dryRun_ ? trn("Would add {0} record at \"{1}\" to {2}, {3}.",
                             "Would add {0} records at \"{1}\" to {2}, {3}.", added, added, location, catalogue, moved)
                       : trn("Added {0} record at \"{1}\" to {2}, {3}.", "Added {0} records at \"{1}\" to {2}, {3}.",
                             added, added, location, catalogue, moved);
    }

    bool wanted(const fs::path& file) const {
        if (extensions_.empty())
            return true;
        std::string ext = file.extension().string();
        if (ext.empty())
            return false;
        ext.erase(0, 1);
        return std::any_of(extensions_.begin(), extensions_.end(), [&](std::string e) {
            if (!e.empty() && e.front() == '.')
                e.erase(0, 1);
            return CLI::detail::to_lower(e) == CLI::detail::to_lower(ext);
        });
    }

    // A path the scan could not take, and why.
    struct LeftOut {
        std::string path;
        std::string why;
    };

    // The regular files (links to one included), in `found`; anything else
    // the scan would have taken but cannot, in `leftOut`: a folder that
    // cannot be read or is gone by the time it is opened, a link that leads
    // nowhere or round in a loop, a FIFO, a socket, a device. Folders within
    // are looked into with --recursive; a link to one is not followed, so
    // that no folder is scanned twice and no loop of links goes on for ever.
    void look(std::vector<std::string>& found, std::vector<LeftOut>& leftOut, Progress& progress) const {
        std::error_code ec;
        if (!fs::is_directory(dir_, ec))
            throw Failure(exitcode::FileError, ec ? dir_ + ": " + ec.message() : tr("{0}: not a folder", dir_));
        std::vector<fs::path> folders{fs::path(dir_)};
        while (!folders.empty()) {
            const fs::path folder = std::move(folders.back());
            folders.pop_back();
            const bool top = folder == fs::path(dir_);
            fs::directory_iterator it(folder, ec);
            if (ec) {
                if (top)
                    throw Failure(exitcode::FileError, tr("{0}: cannot read: {1}", dir_, ec.message()));
                leftOut.push_back({folder.string(), folderProblem(ec)});
                continue;
            }
            for (; !ec && it != fs::directory_iterator(); it.increment(ec))
                take(*it, found, leftOut, folders);
            progress.advance(found.size());
            if (ec) {   // the listing broke off: what it did not list is not known
                if (top)
                    throw Failure(exitcode::FileError, tr("{0}: cannot read: {1}", dir_, ec.message()));
                leftOut.push_back({folder.string(), folderProblem(ec)});
            }
        }
    }

    static std::string folderProblem(const std::error_code& ec) {
        if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory)
            return _("a folder that vanished during the scan");
        return tr("a folder that cannot be read ({0})", ec.message());
    }

    void take(const fs::directory_entry& entry, std::vector<std::string>& found, std::vector<LeftOut>& leftOut,
              std::vector<fs::path>& folders) const {
        std::error_code ec;
        const fs::file_status own = entry.symlink_status(ec);
        if (ec) {
            if (wanted(entry.path()))
                leftOut.push_back({entry.path().string(), tr("cannot be looked at ({0})", ec.message())});
            return;
        }
        if (fs::is_directory(own)) {
            if (recursive_)
                folders.push_back(entry.path());
            return;
        }
        fs::file_status target = own;
        if (fs::is_symlink(own)) {
            target = fs::status(entry.path(), ec);
            if (ec) {
                if (wanted(entry.path()))
                    leftOut.push_back({entry.path().string(),
                                       ec == std::errc::no_such_file_or_directory ? _("a link that leads nowhere")
                                       : ec == std::errc::too_many_symbolic_link_levels
                                           ? _("a link that leads round in a loop")
                                           : tr("cannot be looked at ({0})", ec.message())});
                return;
            }
            if (fs::is_directory(target)) {
                if (recursive_)
                    leftOut.push_back({entry.path().string(), _("a link to a folder, which is not followed")});
                return;
            }
        }
        if (!wanted(entry.path()))
            return;
        switch (target.type()) {
        case fs::file_type::regular: found.push_back(entry.path().string()); return;
        case fs::file_type::fifo: leftOut.push_back({entry.path().string(), _("a FIFO, not a file")}); return;
        case fs::file_type::socket: leftOut.push_back({entry.path().string(), _("a socket, not a file")}); return;
        case fs::file_type::block:
        case fs::file_type::character: leftOut.push_back({entry.path().string(), _("a device, not a file")}); return;
        default: leftOut.push_back({entry.path().string(), _("not a file")}); return;
        }
    }

    std::string dir_;
    std::string location_;
    std::vector<std::string> extensions_;
    bool recursive_ = false;
    bool update_ = false;
    bool dryRun_ = false;
};

}  // namespace

std::unique_ptr<Command> makeScan(CLI::App& app) { return std::make_unique<ScanCommand>(app); }

}  // namespace vrindel::cli
