#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "CatalogueFiles.h"
#include "Command.h"

namespace vrindel::cli {

namespace {

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

class ExportCommand : public Command {
public:
    explicit ExportCommand(CLI::App& parent)
        : Command(parent, "export", "Write every record as CSV, TSV or JSON",
                  "UTF-8; CSV per RFC 4180 with the header \"name,location\"; TSV with the header\n"
                  "\"name<TAB>location\" and \\t \\n \\r \\\\ for what a field cannot hold; JSON as an array\n"
                  "of {\"name\", \"location\"}. Every byte of a text comes back through import.") {
        app_->add_option("-o,--output", output_, "the file to write (default: standard output)")->option_text("FILE");
        addSortedOption(sorted_);
        addFormatOption(format_, "csv, tsv or json (default: from the output's extension, else csv)", false);
    }

    int run() override {
        if (!app_->count("--format"))
            format_ = formatOfFile(output_).value_or(Format::Csv);
        if (format_ == Format::Text)
            throw Failure(exitcode::Usage, "export writes csv, tsv or json; `list` prints text");
        if (!output_.empty() && output_ != "-" && sameFile(output_, ListFileName))
            throw Failure(exitcode::Usage, output_ + ": that is the catalogue itself; nothing was written");

        Progress progress("export");
        progress.stage("reading the catalogue");
        Catalogue catalogue;
        readForLooking(catalogue);

        std::FILE* out = stdout;
        const bool toFile = !output_.empty() && output_ != "-";
        if (toFile && !(out = std::fopen(output_.c_str(), "wb")))
            throw Failure(exitcode::FileError, output_ + ": cannot create: " + std::strerror(errno));
        try {
            writeRecords(catalogue, format_, sorted_, out, {}, &progress);
        } catch (const Failure&) {
            if (toFile)
                std::fclose(out);
            throw Failure(exitcode::FileError, (toFile ? output_ : std::string("standard output")) +
                                                   ": cannot write: " + std::strerror(errno));
        }
        if (toFile && std::fclose(out) != 0)
            throw Failure(exitcode::FileError, output_ + ": cannot write: " + std::strerror(errno));
        return exitcode::Ok;
    }

private:
    std::string output_;
    bool sorted_ = false;
    Format format_ = Format::Csv;
};

}  // namespace

std::unique_ptr<Command> makeExport(CLI::App& app) { return std::make_unique<ExportCommand>(app); }

}  // namespace vrindel::cli
