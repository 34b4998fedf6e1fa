#include <algorithm>
#include <cstdint>

#include "CatalogueFiles.h"
#include "Command.h"
#include "Texts.h"

namespace vrindel::cli {

namespace {

class ImportCommand : public Command {
public:
    explicit ImportCommand(CLI::App& parent)
        : Command(parent, "import",
                  "Append the records of a CSV, TSV or JSON file",
                  "FILE - reads standard input. A folder without a catalogue gets a new one.\n"
                  "Every row that cannot be stored (too long, a character Windows-1250 lacks, a name\n"
                  "already listed or twice in the file, a malformed row) is reported with its line;\n"
                  "unless --skip-invalid, one such row means nothing is written (exit 1).") {
        app_->add_option("FILE", input_, "the file to read")->required();
        addFormatOption(format_, "csv, tsv or json (default: from the file's extension)", false);
        app_->add_flag("--dry-run", dryRun_, "check every row and say what would be imported; write nothing");
        app_->add_flag("--skip-invalid", skipInvalid_, "import the good rows, leaving out the ones reported");
    }

    int run() override {
        if (!app_->count("--format")) {
            const auto guessed = formatOfFile(input_);
            if (!guessed)
                throw Failure(exitcode::Usage, inputName() + ": cannot tell the format from the name; give --format");
            format_ = *guessed;
        }
        if (format_ == Format::Text)
            throw Failure(exitcode::Usage, "import reads csv, tsv or json");

        Progress progress("import");
        InputFile input(input_, inputName());

        // Each row on its own as it is read: well formed, storable. The
        // texts that can be stored wait in `texts`, each after its length,
        // until the catalogue is read.
        progress.stage("checking rows", input.size());
        // Room for what a regular file can hold is only address space until
        // it is used; growing would copy it all again and again.
        std::vector<std::size_t> lineOf;               // row -> line
        std::vector<std::size_t> rowOf;                // storage index - before -> row
        std::vector<std::pair<std::size_t, std::string>> problems;   // (row, why), one per row
        std::string texts;
        lineOf.reserve(input.size() / 16);
        rowOf.reserve(input.size() / 16);
        texts.reserve(input.size());
        Converted name, location;
        const ImportFile file = readRecords(format_, input, [&](ImportRow& row) {
            const std::size_t r = lineOf.size();
            lineOf.push_back(row.line);
            if (row.problem.empty()) {
                toRecordText(row.name, "name", name);
                toRecordText(row.location, "location", location);
                if (!name.problem.empty() || !location.problem.empty()) {
                    problems.emplace_back(r, !name.problem.empty() ? name.problem : location.problem);
                } else {
                    for (const Converted* text : {&name, &location}) {
                        texts += char(text->bytes.size());
                        texts += text->bytes;
                    }
                    rowOf.push_back(r);
                }
            } else {
                problems.emplace_back(r, std::move(row.problem));
            }
            if ((r & 0xFFF) == 0)
                progress.advance(input.bytesRead());
        });
        if (!file.problem.empty())
            throw Failure(exitcode::Problems, where(file.problemLine) + file.problem + "; nothing was imported");
        const std::size_t rows = lineOf.size();

        // The catalogue: locked for the write, or only read for a dry run.
        Change change;
        if (dryRun_) {
            FileVar listFile;
            listFile.assign(ListFileName);
            if (listFile.exists())
                readForLooking(change.catalogue);
        } else {
            progress.stage("reading the catalogue");
            readForChanging(change, true);
        }
        Catalogue& catalogue = change.catalogue;
        const int before = catalogue.storageCount();
        catalogue.reserve(rowOf.size());
        for (std::size_t at = 0; at < texts.size();) {
            const std::size_t nameLength = std::uint8_t(texts[at]);
            const std::string_view nameBytes(texts.data() + at + 1, nameLength);
            at += 1 + nameLength;
            const std::size_t locationLength = std::uint8_t(texts[at]);
            catalogue.appendLoaded(nameBytes, std::string_view(texts.data() + at + 1, locationLength));
            at += 1 + locationLength;
        }

        // Then the names against the catalogue and each other, by the
        // window's comparison; the first of equal names in the file stays.
        progress.stage("comparing names");
        std::vector<bool> drop(rowOf.size(), false);
        const std::size_t badRows = problems.size();
        for (const auto& [later, first] : catalogue.repeatedNames()) {
            if (later < before)
                continue;   // the catalogue's own, not this import's
            const std::size_t k = std::size_t(later - before);
            drop[k] = true;
            if (first < before)
                problems.emplace_back(rowOf[k], "the name is already listed (as \"" +
                                                    windows1250ToUtf8(catalogue.storageName(first).view()) + "\")");
            else
                problems.emplace_back(rowOf[k], "the name is twice in the file (first on line " +
                                                    std::to_string(lineOf[rowOf[std::size_t(first - before)]]) + ")");
        }
        if (problems.size() > badRows)   // in the order of the file
            std::inplace_merge(problems.begin(), problems.begin() + std::ptrdiff_t(badRows), problems.end(),
                               [](const auto& a, const auto& b) { return a.first < b.first; });
        const std::size_t rejected = problems.size();
        for (const auto& [row, problem] : problems)
            warn(where(lineOf[row]) + problem);

        const std::size_t accepted = rows - rejected;
        if (rejected > 0 && !skipInvalid_) {
            warn(where(0) + std::to_string(rejected) + (rejected == 1 ? " row" : " rows") +
                 " cannot be stored; nothing was imported (--skip-invalid imports the others)");
            return exitcode::Problems;
        }
        if (dryRun_) {
            std::printf("Would import %zu %s into %s.\n", accepted, accepted == 1 ? "record" : "records",
                        shown(ListFileName).c_str());
            return rejected > 0 ? exitcode::Problems : exitcode::Ok;
        }

        if (rejected > 0) {
            // Built again without the rows reported.
            Catalogue kept;
            kept.reserve(std::size_t(before) + accepted);
            for (int j = 0; j < catalogue.storageCount(); ++j)
                if (j < before || !drop[std::size_t(j - before)])
                    kept.appendLoaded(catalogue.storageName(j).view(), catalogue.storageLocation(j).view());
            progress.stage("saving");
            save(change, kept);
        } else {
            progress.stage("saving");
            save(change);
        }
        std::printf("Imported %zu %s into %s.\n", accepted, accepted == 1 ? "record" : "records",
                    shown(ListFileName).c_str());
        return rejected > 0 ? exitcode::Problems : exitcode::Ok;
    }

private:
    std::string inputName() const { return input_ == "-" ? "standard input" : input_; }
    std::string where(std::size_t line) const {
        return inputName() + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": ";
    }

    std::string input_;
    Format format_ = Format::Csv;
    bool dryRun_ = false;
    bool skipInvalid_ = false;
};

}  // namespace

std::unique_ptr<Command> makeImport(CLI::App& app) { return std::make_unique<ImportCommand>(app); }

}  // namespace vrindel::cli
