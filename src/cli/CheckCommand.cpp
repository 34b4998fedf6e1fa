#include <cstdint>
#include <cstdio>

#include "CatalogueFiles.h"
#include "Command.h"
#include "Texts.h"

namespace vrindel::cli {

namespace {

class CheckCommand : public Command {
public:
    explicit CheckCommand(CLI::App& parent)
        : Command(parent, "check",
                  "Report what is wrong with the catalogue file",
                  "Reads the catalogue as the window would and reports its size and records, a damaged\n"
                  "end, length bytes above 31, names listed twice and control characters.\n"
                  "Exit 0 when it is clean, 1 when it found something.") {}

    int run() override {
        const std::string file = shown(ListFileName);
        // The records as they are, for what reading leaves out: lengths
        // above 31 and a part of a record at the end.
        FileVar listFile;
        listFile.setReadingOnly(true);
        listFile.assign(ListFileName);
        if (!listFile.exists())
            throw Failure(exitcode::FileError, file + ": no catalogue in this folder");
        Catalogue catalogue;
        readForLooking(catalogue);
        std::string bytes;
        std::uint64_t size = 0;
        try {
            listFile.reset(ListRecordSize);
            size = std::uint64_t(listFile.identity().size);
            bytes.resize(std::size_t(listFile.sizeInRecords()) * ListRecordSize);
            for (std::size_t at = 0; at < bytes.size(); at += ListRecordSize)
                listFile.readRecord(bytes.data() + at);
            listFile.close();
        } catch (const IoError& e) {
            throw Failure(exitcode::FileError, file + ": cannot read: " + e.what());
        }

        const std::size_t records = bytes.size() / ListRecordSize;
        std::printf("%s: %llu bytes, %d records\n", file.c_str(), static_cast<unsigned long long>(size),
                    catalogue.storageCount());
        std::size_t problems = 0;
        auto report = [&](const std::string& text) {
            std::printf("%s: %s\n", file.c_str(), text.c_str());
            ++problems;
        };

        for (std::size_t r = 0; r < records; ++r) {
            const std::string_view record = std::string_view(bytes).substr(r * ListRecordSize, ListRecordSize);
            const unsigned length = static_cast<unsigned char>(record[0]);
            const std::string which = "record " + std::to_string(r / 2 + 1) + ": the " + (r % 2 ? "location" : "name");
            if (length > MaxTextLength)
                report(which + "'s length byte is " + std::to_string(length) +
                       ", above 31; the window reads only its first 31 characters");
            const std::string_view text = record.substr(1, std::min<std::size_t>(length, MaxTextLength));
            for (unsigned char c : text) {
                const char16_t ch = fromWindows1250(c);
                if (isControlCharacter(ch)) {
                    char code[8];
                    std::snprintf(code, sizeof code, "%04X", unsigned(ch));
                    report(which + " holds a control character (U+" + code + ")");
                    break;
                }
            }
        }
        for (const auto& [later, first] : catalogue.repeatedNames())
            report("record " + std::to_string(later + 1) + ": the name \"" +
                   printable(windows1250ToUtf8(catalogue.storageName(later).view())) +
                   "\" is listed twice (first as record " + std::to_string(first + 1) + ", \"" +
                   printable(windows1250ToUtf8(catalogue.storageName(first).view())) +
                   "\"); the window shows that one's location for both");
        if (records % 2 == 1)
            report("damaged: the last name (record " + std::to_string(records / 2 + 1) +
                   ") has no location; the window reports the file damaged and leaves that name out");
        if (size % ListRecordSize != 0)
            report("the last " + std::to_string(size % ListRecordSize) +
                   " bytes are less than a whole record; the window leaves them out and a save drops them");

        if (problems == 0) {
            std::printf("%s: no problems found\n", file.c_str());
            return exitcode::Ok;
        }
        std::printf("%s: %zu %s\n", file.c_str(), problems, problems == 1 ? "problem" : "problems");
        return exitcode::Problems;
    }
};

}  // namespace

std::unique_ptr<Command> makeCheck(CLI::App& app) { return std::make_unique<CheckCommand>(app); }

}  // namespace vrindel::cli
