#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#include "store/format/Format.h"
#include "Command.h"
#include "Messages.h"
#include "RecordBatch.h"
#include "Texts.h"

namespace vrindel::cli {

namespace {

// The line each row starts on, kept only where it is not the line after the
// last row's (a blank line, a field across lines): a file of ten million
// rows, one a line, keeps nothing.
class Lines {
public:
    void push_back(std::size_t line) {
        if (line != last_ + 1)
            jumps_.push_back({rows_, line});
        last_ = line;
        ++rows_;
    }
    std::size_t operator[](std::size_t row) const {
        auto jump = std::upper_bound(jumps_.begin(), jumps_.end(), row,
                                     [](std::size_t r, const std::pair<std::size_t, std::size_t>& j) { return r < j.first; });
        if (jump == jumps_.begin())
            return row + 1;
        --jump;
        return jump->second + (row - jump->first);
    }

private:
    std::vector<std::pair<std::size_t, std::size_t>> jumps_;   // (row, its line) where the count jumps
    std::size_t rows_ = 0;
    std::size_t last_ = 0;
};

class ImportCommand : public Command {
public:
    explicit ImportCommand(CLI::App& parent)
        : Command(parent, "import",
                  _("Append the records of a CSV, TSV or JSON file, a workbook (xlsx, ods), or a list of names"),
                  _("FILE - reads standard input. A folder without a catalogue gets a new one.\n"
                  "A CSV file may come from a spreadsheet: `,` `;` or tab between fields (found on the\n"
                  "header line), UTF-8 with or without a byte order mark or else Windows-1250, and the\n"
                  "columns named name/location or názov (položka)/umiestnenie, in any case, accents or not.\n"
                  "Every row that cannot be stored (too long, a character Windows-1250 lacks, a name\n"
                  "already listed or twice in the file, a malformed row) is reported with its line;\n"
                  "unless --skip-invalid, one such row means nothing is written (exit 1).\n"
                  "A workbook's first sheet is read with the same header rules; a text cell comes in\n"
                  "exactly as it is, a number cell as the shortest text of its value.\n"
                  "--dry-run lists each record it would add or move, then the count.\n"
                  "Examples:\n"
                  "  vrindel-cli import zoznam.csv --dry-run\n"
                  "  vrindel-cli import upravene.csv --update\n"
                  "  ls /media/cd | vrindel-cli import --lines --location 'CD 12' -")) {
        app_->add_option("FILE", input_, _("the file to read"))->required();
        addFormatOption(format_, _("csv, tsv, json, xlsx or ods (default: from the file's extension)"), false,
                        "csv|tsv|json|xlsx|ods");
        app_->add_option("--delimiter", delimiter_, _("a CSV file's delimiter: , ; or tab (default: found on the header line)"))
            ->option_text(",|;|tab");
        app_->add_option("--encoding", encoding_,
                         _("utf-8 or windows-1250 (default: utf-8 when the bytes are UTF-8, else windows-1250)"))
            ->check(CLI::IsMember({"utf-8", "windows-1250"}, CLI::ignore_case))
            ->option_text("utf-8|windows-1250");
        app_->add_flag("--lines", lines_,
                       _("FILE holds one name a line (from ls or find: a path's last part is the name), "
                         "all at the --location given"));
        app_->add_option("--location", location_, _("the location of every name read with --lines"))->option_text(_("LABEL"));
        app_->add_flag("--update", update_,
                       _("a row whose name is listed gives that record its location instead of being refused"));
        app_->add_flag("--dry-run", dryRun_, _("check every row and say what would be imported; write nothing"));
        app_->add_flag("--skip-invalid", skipInvalid_,
                       _("import the good rows, leaving out the ones reported (exit 0 when that is done)"));
    }

    bool createsCatalogue() const override { return !dryRun_; }

    int run() override {
        checkOptions();
        Progress progress("import");
        InputFile input(input_, inputName());
        RecordBatch batch;
        Lines lineOf;
        const auto twice = [&](std::size_t first) {
            return tr("the name is twice in the file (first on line {0})", lineOf[first]);
        };
        Change change;
        // The rows of an update mostly name records the catalogue has: with
        // records there, each row is compared as it is read, so that none is
        // kept beyond what changes the catalogue. The catalogue comes first, locked
        // while the input is read. A plain import keeps its rows instead (a
        // third of a record each) and locks the catalogue only once they
        // are all well formed.
        if (update_) {
            openCatalogue(change, progress);
            if (change.catalogue.storageCount() > 0) {
                batch.startComparing(change.catalogue, true, twice);
                readInput(input, batch, lineOf, progress);
                batch.endComparing();
                return finish(change, batch, lineOf, progress);
            }
        }

        // 1. The rows, each on its own.
        readInput(input, batch, lineOf, progress);

        // 2. The rows against the catalogue: locked for the write, or only
        // read for a dry run.
        if (!update_)
            openCatalogue(change, progress);
        progress.stage(_("comparing names"));
        batch.compare(change.catalogue, update_, twice);
        return finish(change, batch, lineOf, progress);
    }

private:
    void checkOptions() {
        if (lines_) {
            if (!app_->count("--location"))
                throw Failure(exitcode::Usage, _("--lines needs --location LABEL: where the names are kept"));
            if (app_->count("--format") || app_->count("--delimiter") || app_->count("--encoding"))
                throw Failure(exitcode::Usage, _("--lines reads names, one a line, in UTF-8; it takes no --format, "
                                                 "--delimiter or --encoding"));
            return;
        }
        if (app_->count("--location"))
            throw Failure(exitcode::Usage, _("--location goes with --lines; a table's rows have their own"));
        if (!app_->count("--format")) {
            // Standard input has no name to tell by: it is what `export`
            // writes to standard output unless told, so that the two pipe; a
            // workbook there the reader knows by its first bytes.
            const auto guessed = input_ == "-" ? std::optional<Format>(Format::Csv) : formatOfFile(input_);
            if (!guessed)
                throw Failure(exitcode::Usage, tr("{0}: cannot tell the format from the name; give --format", inputName()));
            format_ = *guessed;
        }
        if (format_ == Format::Text)
            throw Failure(exitcode::Usage, _("import reads csv, tsv or json"));
        dialect_ = tableDialect();
    }

    TableDialect tableDialect() const {
        TableDialect dialect;
        if (app_->count("--delimiter")) {
            if (format_ != Format::Csv)
                throw Failure(exitcode::Usage, _("--delimiter is for CSV files"));
            if (delimiter_ == "," || delimiter_ == ";")
                dialect.delimiter = delimiter_[0];
            else if (delimiter_ == "tab" || delimiter_ == "\t" || delimiter_ == "\\t")
                dialect.delimiter = '\t';
            else
                throw Failure(exitcode::Usage, _("--delimiter: give , ; or tab"));
        }
        if (app_->count("--encoding")) {
            if (format_ == Format::Json)
                throw Failure(exitcode::Usage, _("--encoding is for CSV and TSV files; JSON is UTF-8"));
            if (isWorkbook(format_))
                throw Failure(exitcode::Usage, _("--encoding is for CSV and TSV files; a workbook says its own"));
            dialect.encoding = CLI::detail::to_lower(encoding_) == "utf-8" ? Encoding::Utf8 : Encoding::Windows1250;
        }
        return dialect;
    }

    void readInput(InputFile& input, RecordBatch& batch, Lines& lineOf, Progress& progress) {
        progress.stage(_("checking rows"), input.size(), Progress::Unit::Bytes);
        if (lines_)
            readNames(input, batch, lineOf, progress);
        else
            readRows(input, batch, lineOf, progress);
    }

    // A CSV, TSV or JSON file. A problem of the whole file ends the command.
    void readRows(InputFile& input, RecordBatch& batch, Lines& lineOf, Progress& progress) {
        const ImportFile file = readRecords(
            format_, input,
            [&](ImportRow& row) {
                lineOf.push_back(row.line);
                if (row.problem.empty())
                    batch.take(row.name, row.location);
                else
                    batch.reject(std::move(row.problem));
                if ((batch.rows() & 0xFFF) == 0)
                    progress.advance(input.bytesRead());
            },
            dialect_);
        if (!file.problem.empty())
            throw Failure(exitcode::Problems, tr("{0}: {1}; nothing was imported", at(file.problemLine), file.problem));
    }

    // One name a line, blank lines left out; a line without end is a
    // problem of its own and never held whole.
    void readNames(InputFile& input, RecordBatch& batch, Lines& lineOf, Progress& progress) {
        std::string piece(1 << 16, '\0'), line;
        std::size_t number = 1;
        bool tooLong = false;
        auto endLine = [&] {
            std::string_view text(line);
            if (!text.empty() && text.back() == '\r')
                text.remove_suffix(1);
            if (const std::size_t slash = text.find_last_of('/'); slash != std::string_view::npos)
                text.remove_prefix(slash + 1);
            if (tooLong) {
                lineOf.push_back(number);
                batch.reject(tr("a line longer than {0} bytes", MaxFieldBytes));
            } else if (!text.empty()) {
                lineOf.push_back(number);
                batch.take(text, location_);
            }
            line.clear();
            tooLong = false;
            ++number;
        };
        while (const std::size_t got = input.read(piece.data(), piece.size())) {
            for (std::size_t at = 0; at < got;) {
                const void* nl = std::memchr(piece.data() + at, '\n', got - at);
                const std::size_t end = nl ? std::size_t(static_cast<const char*>(nl) - piece.data()) : got;
                if (!tooLong)
                    line.append(piece, at, end - at);
                if (line.size() > MaxFieldBytes) {
                    tooLong = true;
                    line.clear();
                }
                at = end;
                if (nl) {
                    endLine();
                    ++at;
                }
            }
            progress.advance(input.bytesRead());
        }
        if (!line.empty() || tooLong)
            endLine();
    }

    void openCatalogue(Change& change, Progress& progress) {
        if (!dryRun_)
            progress.stage(_("reading the catalogue"));
        readForAdding(change, dryRun_);
    }

    // 3. Every refused row told; the rest saved, unless a refused row
    // stops it all.
    int finish(Change& change, const RecordBatch& batch, const Lines& lineOf, Progress& progress) {
        const std::size_t rejected = batch.problems().size();
        for (const auto& [row, problem] : batch.problems())
            warn(at(lineOf[row]) + ": " + problem);
        if (rejected > 0 && !skipInvalid_) {
            warn(trn("{0}: {1} row cannot be stored; nothing was imported (--skip-invalid imports the others)",
                     "{0}: {1} rows cannot be stored; nothing was imported (--skip-invalid imports the others)",
                     rejected, inputName(), rejected));
            return exitcode::Problems;
        }
        if (!dryRun_) {
            progress.stage(_("saving"));
            saveAppended(change, batch.relocatedFrom());
        } else {
            listChanges(change.catalogue, batch, lineOf);
        }
        if (!quiet())
            std::printf("%s\n", summary(batch).c_str());
        // What was asked is done: every row imported, or with --skip-invalid
        // every row imported or reported.
        return exitcode::Ok;
    }

    // A dry run's list: a line for each record it would add and each it
    // would move, so that a row read otherwise than meant ("007" as 7) is
    // seen before anything is written.
    void listChanges(const Catalogue& catalogue, const RecordBatch& batch, const Lines& lineOf) const {
        std::string lines;
        auto shownText = [](std::string_view stored) { return printable(windows1250ToUtf8(stored)); };
        batch.eachChange(catalogue, [&](std::size_t row, std::string_view name, std::string_view location,
                                        const std::string* from) {
            // The words of merge's list, after the line that asks for it.
            lines += at(lineOf[row]) + ": ";
            lines += from ? tr("would move \"{0}\" from \"{1}\" to \"{2}\"", shownText(name), shownText(*from),
                               shownText(location))
                          : tr("would add \"{0}\" at \"{1}\"", shownText(name), shownText(location));
            lines += '\n';
            if (lines.size() >= (1 << 16)) {
                std::fwrite(lines.data(), 1, lines.size(), stdout);
                lines.clear();
            }
        });
        std::fwrite(lines.data(), 1, lines.size(), stdout);
    }

    // Two counts in one sentence: the sentence takes the form of the
    // first, and the second comes as a phrase written for this sentence
    // alone, in the form (and case) of its own count.
    std::string summary(const RecordBatch& batch) const {
        const std::size_t added = batch.added();
        const std::string catalogue = shown(ListFileName);
        if (!update_)
            return dryRun_ ? trn("Would import {0} record into {1}.", "Would import {0} records into {1}.", added, added,
                                 catalogue)
                           : trn("Imported {0} record into {1}.", "Imported {0} records into {1}.", added, added,
                                 catalogue);
        const std::size_t relocated = batch.relocated();
        // TRANSLATORS: {1} in "...and change(d) {1} in ..." of the import's summary.
        const std::string moved = trn("the location of {0} record", "the location of {0} records", relocated, relocated);
        return dryRun_ ? trn("Would import {0} record and change {1} in {2}.",
                             "Would import {0} records and change {1} in {2}.", added, added, moved, catalogue)
                       : trn("Imported {0} record and changed {1} in {2}.", "Imported {0} records and changed {1} in {2}.",
                             added, added, moved, catalogue);
    }

    // How messages name the input: a file's name, or standard input.
    std::string inputName() const { return input_ == "-" ? _("standard input") : input_; }
    // The place of a problem: the input, and its line when there is one.
    std::string at(std::size_t line) const {
        return line > 0 ? inputName() + ":" + std::to_string(line) : inputName();
    }

    std::string input_;
    Format format_ = Format::Csv;
    TableDialect dialect_;
    std::string delimiter_;
    std::string encoding_;
    std::string location_;
    bool lines_ = false;
    bool update_ = false;
    bool dryRun_ = false;
    bool skipInvalid_ = false;
};

}  // namespace

std::unique_ptr<Command> makeImport(CLI::App& app) { return std::make_unique<ImportCommand>(app); }

}  // namespace vrindel::cli
