#pragma once
// What the import targets check alike: the rows of a file that can be
// stored, written out again by the export's writer, read back as the same
// texts.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "Formats.h"
#include "FuzzSupport.h"
#include "Texts.h"
#include "text/RecordText.h"

namespace vrindel::fuzz {

using StoredRows = std::vector<std::pair<std::string, std::string>>;

// The rows without a problem whose texts the catalogue can store, as it
// stores them (Windows-1250).
inline StoredRows storableRows(const cli::ImportFile& read) {
    StoredRows stored;
    for (const cli::ImportRow& row : read.rows) {
        if (!row.problem.empty())
            continue;
        const cli::Converted name = cli::toRecordText(row.name, "name");
        const cli::Converted location = cli::toRecordText(row.location, "location");
        if (name.problem.empty() && location.problem.empty())
            stored.emplace_back(name.bytes, location.bytes);
    }
    return stored;
}

// `stored` written in `format` and read back: every record as it was.
inline void checkWrittenComesBack(cli::Format format, const StoredRows& stored, const cli::CsvStyle& style = {}) {
    char* buffer = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&buffer, &length);
    check(out != nullptr, "cannot open a memory stream");
    {
        cli::RecordWriter writer(format, out, style);
        for (const auto& [name, location] : stored)
            writer.record(name, location);
        check(writer.finish(), "the writer failed");
    }
    std::fclose(out);
    const std::string written(buffer, length);
    std::free(buffer);

    const cli::ImportFile again = cli::readRecords(format, written);
    check(again.problem.empty(), "a written file has a problem");
    check(again.rows.size() == stored.size(), "a written file has another number of rows");
    for (std::size_t k = 0; k < stored.size(); ++k) {
        check(again.rows[k].problem.empty(), "a written row has a problem");
        check(again.rows[k].name == windows1250ToUtf8(stored[k].first), "a name changed through write and read");
        check(again.rows[k].location == windows1250ToUtf8(stored[k].second),
              "a location changed through write and read");
    }
}

}  // namespace vrindel::fuzz
