#include <cerrno>
#include <cstring>
#include <optional>

#include <unistd.h>

#include "store/format/Format.h"
#include "Command.h"
#include "Messages.h"
#include "OutputFile.h"
#include "Workbook.h"

namespace vrindel::cli {

namespace {

class ExportCommand : public Command {
public:
    explicit ExportCommand(CLI::App& parent)
        : Command(parent, "export", _("Write every record as CSV, TSV, JSON or a workbook (xlsx)"),
                  _("UTF-8; CSV per RFC 4180 with the header \"name,location\"; TSV with the header\n"
                  "\"name<TAB>location\" and \\t \\n \\r \\\\ for what a field cannot hold; JSON as an array\n"
                  "of {\"name\", \"location\"}. Every byte of a text comes back through import.\n"
                  "--spreadsheet writes the CSV a spreadsheet in a Slovak locale opens as it is:\n"
                  "\"name;location\", UTF-8 with a byte order mark, CRLF.\n"
                  "xlsx writes a workbook whose cells are text: \"007\" stays 007 and \"=SUM(1;2)\" no formula.")) {
        app_->add_option("-o,--output", output_, _("the file to write (default: standard output)"))->option_text("FILE");
        addSortedOption(sorted_);
        addFormatOption(format_, _("csv, tsv, json or xlsx (default: from the output's extension, else csv)"), false,
                        "csv|tsv|json|xlsx");
        app_->add_flag("--spreadsheet,--excel", spreadsheet_,
                       _("CSV for a spreadsheet: `;` between fields, UTF-8 with a byte order mark"));
    }

    int run() override {
        if (!app_->count("--format"))
            format_ = formatOfFile(output_).value_or(Format::Csv);
        if (format_ == Format::Text)
            throw Failure(exitcode::Usage, _("export writes csv, tsv or json; `list` prints text"));
        if (format_ == Format::Ods)
            throw Failure(exitcode::Usage, _("export writes a workbook as xlsx, which every spreadsheet opens; "
                                             "give --format xlsx"));
        if (spreadsheet_ && format_ != Format::Csv)
            throw Failure(exitcode::Usage, _("--spreadsheet writes CSV; leave out --format or give --format csv"));
        const bool toFile = !output_.empty() && output_ != "-";
        if (toFile && sameFile(output_, ListFileName))
            throw Failure(exitcode::Usage, tr("{0}: that is the catalogue itself; nothing was written", output_));
        if (toFile && isFileOfTheFolder(output_, OptionsFileName))
            throw Failure(exitcode::Usage,
                          tr("{0}: that is the switches file (Options.dat); nothing was written", output_));
        if (!toFile)
            refuseCatalogueAsStandardOutput();
        if (!toFile && isWorkbook(format_) && ::isatty(STDOUT_FILENO))
            throw Failure(exitcode::Usage, _("a workbook is not for a terminal; give -o FILE.xlsx"));

        // The file first, so that a target that cannot be written is told
        // before a million records are read.
        std::optional<OutputFile> file;
        if (toFile)
            file.emplace(output_);
        Progress progress("export");
        std::FILE* const out = toFile ? file->stream() : stdout;
        if (!sorted_) {
            // Record by record from the catalogue's file to the output: none
            // is kept, so that ten million take the memory of a few. A sheet
            // too small for the catalogue is found at its end: its rows are
            // counted on, and nothing is written.
            progress.stage(_("writing"));
            RecordWriter writer(format_, out, spreadsheet_ ? SpreadsheetCsv : CsvStyle{});
            const std::size_t most = isWorkbook(format_) ? MaxSheetRecords : std::size_t(-1);
            std::size_t written = 0;
            readForLooking([&](std::string_view name, std::string_view location) {
                if (++written <= most)
                    writer.record(name, location);
                if ((written & 0xFFF) == 0)
                    progress.advance(written);
            });
            if (written > most)
                tooManyForASheet(written);
            if (!writer.finish())
                failed(file);
            if (toFile)
                file->commit();
            return exitcode::Ok;
        }
        progress.stage(_("reading the catalogue"));
        Catalogue catalogue;
        readForLooking(catalogue);
        if (isWorkbook(format_) && std::size_t(catalogue.storageCount()) > MaxSheetRecords)
            tooManyForASheet(std::size_t(catalogue.storageCount()));

        try {
            writeRecords(catalogue, format_, sorted_, out, {}, &progress, spreadsheet_ ? SpreadsheetCsv : CsvStyle{});
        } catch (const Failure&) {
            failed(file);
        }
        if (toFile)
            file->commit();
        return exitcode::Ok;
    }

private:
    [[noreturn]] static void tooManyForASheet(std::size_t records) {
        throw Failure(exitcode::Problems,
                      tr("a sheet holds at most {0} records and the catalogue has {1}; nothing was written "
                         "(CSV holds them all)",
                         MaxSheetRecords, records));
    }

    // The output could not be written (errno says why): a file keeps what
    // it held before.
    [[noreturn]] static void failed(std::optional<OutputFile>& file) {
        const int err = errno;
        if (file)
            file->fail(err);
        throw Failure(exitcode::FileError, tr("standard output: cannot write: {0}", std::strerror(err)));
    }

    std::string output_;
    bool sorted_ = false;
    bool spreadsheet_ = false;
    Format format_ = Format::Csv;
};

}  // namespace

std::unique_ptr<Command> makeExport(CLI::App& app) { return std::make_unique<ExportCommand>(app); }

}  // namespace vrindel::cli
