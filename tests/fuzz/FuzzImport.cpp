// Arbitrary bytes as a file to import: the first byte picks CSV, TSV or
// JSON, the rest is the file. Nothing may crash or leak; rows come in the
// order of their lines, each on a line the file has; and every row that
// can be stored, written out again in the same format, reads back as the
// same texts: the readers and the writer agree on everything they accept,
// in the spreadsheet's CSV as well.
// And a file that comes a byte at a time, as from a slow pipe, reads as the
// same file read whole.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "Formats.h"
#include "FuzzSupport.h"
#include "WrittenComesBack.h"
#include "text/RecordText.h"
#include "Texts.h"

using namespace vrindel;
using namespace vrindel::cli;
using vrindel::fuzz::check;

namespace {

// The bytes one at a time: every row is cut at every byte.
class Trickle : public ByteSource {
public:
    explicit Trickle(std::string_view data) : data_(data) {}
    std::size_t read(char* into, std::size_t room) override {
        if (data_.empty() || room == 0)
            return 0;
        *into = data_.front();
        data_.remove_prefix(1);
        return 1;
    }

private:
    std::string_view data_;
};

bool sameRow(const ImportRow& a, const ImportRow& b) {
    return a.line == b.line && a.name == b.name && a.location == b.location && a.problem == b.problem;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const Format format = data[0] % 3 == 0 ? Format::Csv : data[0] % 3 == 1 ? Format::Tsv : Format::Json;
    const std::string_view file(reinterpret_cast<const char*>(data) + 1, size - 1);
    // A file that starts as a zip archive is read as a workbook whatever
    // the format asked: its rows are a sheet's, not lines (fuzz_workbook).
    if (file.substr(0, 4) == std::string_view("PK\x03\x04", 4))
        return 0;
    const std::size_t lines = std::size_t(std::count(file.begin(), file.end(), '\n')) + 1;

    const ImportFile read = readRecords(format, file);
    std::size_t last = 0;
    for (const ImportRow& row : read.rows) {
        check(row.line >= 1 && row.line <= lines, "a row is on a line the file does not have");
        check(row.line >= last, "rows out of the order of their lines");
        last = row.line;
    }
    check(read.problem.empty() || (read.problemLine >= 1 && read.problemLine <= lines),
          "a problem of the file is on a line the file does not have");
    Trickle trickle(file);
    std::vector<ImportRow> trickled;
    const ImportFile slow = readRecords(format, trickle, [&](ImportRow& row) { trickled.push_back(row); });
    check(slow.problem == read.problem && slow.problemLine == read.problemLine,
          "a file read a byte at a time has another problem");
    check(trickled.size() == read.rows.size() &&
              std::equal(trickled.begin(), trickled.end(), read.rows.begin(), sameRow),
          "a file read a byte at a time gives other rows");

    // What can be stored goes out and comes back, in the CSV for a
    // spreadsheet too, whose apostrophes before a formula's first character
    // come off again.
    const fuzz::StoredRows stored = fuzz::storableRows(read);
    fuzz::checkWrittenComesBack(format, stored);
    if (format == Format::Csv)
        fuzz::checkWrittenComesBack(format, stored, SpreadsheetCsv);
    return 0;
}
