#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "Messages.h"
#include "Texts.h"

namespace vrindel::cli {

namespace {

class CheckCommand : public Command {
public:
    explicit CheckCommand(CLI::App& parent)
        : Command(parent, "check",
                  _("Report what is wrong with the catalogue file"),
                  _("Reads the catalogue as the window would and reports its size and records, a damaged\n"
                    "end, length bytes above 31, names listed twice and control characters.\n"
                    "Exit 0 when it is clean, 1 when it found something.")) {
        app_->add_option("--format", format_, _("text or json (default: text)"))
            ->check(CLI::IsMember({"text", "json"}, CLI::ignore_case))
            ->option_text("text|json");
    }

    // The copies a sync engine left beside the catalogue and its switches,
    // each on a line; those holding records the catalogue lacks are
    // problems, and so is one that cannot be read.
    static std::size_t reportCopies(CatalogueStore& store, const Catalogue& catalogue,
                                    const std::function<void(const std::string&)>& line) {
        std::vector<ConflictCopy> copies;
        try {
            copies = store.conflictCopies();
        } catch (const IoError&) {
            // A folder that may be entered but not read shows no copies;
            // the catalogue in it is checked as ever.
            return 0;
        }
        std::size_t problems = 0;
        for (const ConflictCopy& copy : copies) {
            const std::string file = shownCopy(copy);
            if (copy.file == StoredFile::Options) {
                line(tr("{0}: a copy of the switches {1} left; the switches stay as they are", file, copy.engine));
                continue;
            }
            std::size_t lacking = 0, changing = 0;
            try {
                const CopyRecords records = store.compareCopies(catalogue, {copy.path});
                lacking = records.missing.size();
                changing = records.deleted.size() + records.changed.size();
            } catch (const IoError& e) {
                line(tr("{0}: cannot read: {1}", file, reason(e)));
                ++problems;
                continue;
            }
            if (lacking == 0 && changing == 0) {
                line(tr("{0}: a copy {1} left; the catalogue lists every name it holds", file, copy.engine));
                continue;
            }
            if (lacking == 0) {
                line(trn("{0}: a copy {1} left; it deleted or moved {2} record of the catalogue (vrindel-cli merge "
                         "takes the change)",
                         "{0}: a copy {1} left; it deleted or moved {2} records of the catalogue (vrindel-cli merge "
                         "takes the changes)",
                         changing, file, copy.engine, changing));
                ++problems;
                continue;
            }
            line(trn("{0}: a copy {1} left; it holds {2} record the catalogue lacks (vrindel-cli merge adds it)",
                     "{0}: a copy {1} left; it holds {2} records the catalogue lacks (vrindel-cli merge adds them)",
                     lacking, file, copy.engine, lacking));
            ++problems;
        }
        return problems;
    }

    // A copy as messages name it: beside the catalogue as the user named
    // it, or elsewhere (where a link to the catalogue leads) by its path.
    static std::string shownCopy(const ConflictCopy& copy) {
        std::error_code error;
        const bool here = std::filesystem::equivalent(std::filesystem::path(copy.path).parent_path(), ".", error);
        return here ? shown(copy.name) : copy.path;
    }

    int run() override {
        const std::string file = shown(ListFileName);
        // The records as they are, for what reading leaves out: lengths
        // above 31 and a part of a record at the end.
        CatalogueStore store;
        store.openForLooking();
        if (!store.catalogueExists())
            throw noCatalogueHere();
        Catalogue catalogue;
        readForLooking(store, catalogue);
        std::string bytes;
        std::uint64_t size = 0;
        try {
            bytes = store.readRecordBytes(size);
        } catch (const IoError& e) {
            throw Failure(exitcode::FileError, tr("{0}: cannot read: {1}", file, reason(e)));
        }

        const std::size_t records = bytes.size() / ListRecordSize;
        const auto count = unsigned(catalogue.storageCount());
        // JSON for scripts: the findings whole, as the text tells them.
        const bool json = CLI::detail::to_lower(format_) == "json";
        std::vector<std::string> said;
        const auto line = [&](const std::string& text) {
            if (json)
                said.push_back(text);
            else
                std::printf("%s\n", printable(text).c_str());
        };
        // TRANSLATORS: {1} is the file's size in bytes; the plural form goes
        // by the records ({2}), so the bytes may want a form that fits any number.
        line(trn("{0}: {1} bytes, {2} record", "{0}: {1} bytes, {2} records", count, file, size, count));
        std::size_t problems = 0;
        auto report = [&](const std::string& text) {
            line(file + ": " + text);
            ++problems;
        };

        for (std::size_t r = 0; r < records; ++r) {
            const std::string_view record = std::string_view(bytes).substr(r * ListRecordSize, ListRecordSize);
            const unsigned length = static_cast<unsigned char>(record[0]);
            const std::size_t number = r / 2 + 1;
            const bool location = r % 2 == 1;
            if (length > MaxTextLength)
                report(location ? tr("record {0}: the location's length byte is {1}, above 31; the window reads only "
                                     "its first 31 characters",
                                     number, length)
                                : tr("record {0}: the name's length byte is {1}, above 31; the window reads only its "
                                     "first 31 characters",
                                     number, length));
            const std::string_view text = record.substr(1, std::min<std::size_t>(length, MaxTextLength));
            if (const std::size_t at = findControlCharacter(text); at != std::string_view::npos) {
                char code[8];
                std::snprintf(code, sizeof code, "%04X", unsigned(fromWindows1250(static_cast<unsigned char>(text[at]))));
                report(location ? tr("record {0}: the location holds a control character (U+{1})", number, code)
                                : tr("record {0}: the name holds a control character (U+{1})", number, code));
            }
        }
        for (const auto& [later, first] : catalogue.repeatedNames())
            report(tr("record {0}: the name \"{1}\" is listed twice (first as record {2}, \"{3}\"); the window shows "
                      "that one's location for both",
                      later + 1, windows1250ToUtf8(catalogue.storageName(later).view()), first + 1,
                      windows1250ToUtf8(catalogue.storageName(first).view())));
        if (records % 2 == 1)
            report(tr("damaged: the last name (record {0}) has no location; the window reports the file damaged and "
                      "leaves that name out",
                      records / 2 + 1));
        if (size % ListRecordSize != 0)
            report(tr("the last {0} bytes are less than a whole record; the window leaves them out and a save drops "
                      "them",
                      size % ListRecordSize));

        problems += reportCopies(store, catalogue, line);
        // A killed save's temporary file or journal that a sync engine
        // carried here from the other computer.
        for (const std::string& name : store.otherComputersLeftovers()) {
            line(tr("{0}: left by a save on another computer; it is never used here", shown(name)));
            ++problems;
        }
        for (const RefusedJournal& refused : store.opening().refusedJournals) {
            line(tr("{0}: named like a journal of this catalogue, but not one its saves could have left ({1}); it is "
                    "never used",
                    refused.journal, refusalText(refused.why)));
            ++problems;
        }
        if (store.opening().rollbackStuck) {
            line(stuckJournalText(store.opening()));
            ++problems;
        }

        if (json) {
            nlohmann::ordered_json out{{"catalogue", file}, {"bytes", size}, {"records", count},
                                       {"problems", problems}, {"report", said}};
            std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
            return problems == 0 ? exitcode::Ok : exitcode::Problems;
        }
        if (problems == 0) {
            line(tr("{0}: no problems found", file));
            return exitcode::Ok;
        }
        line(trn("{0}: {1} problem", "{0}: {1} problems", problems, file, problems));
        return exitcode::Problems;
    }

private:
    std::string format_ = "text";
};

}  // namespace

std::unique_ptr<Command> makeCheck(CLI::App& app) { return std::make_unique<CheckCommand>(app); }

}  // namespace vrindel::cli
