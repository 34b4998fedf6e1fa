#pragma once
// Records in a spreadsheet's own file, where a cell says it holds text: a
// CSV file cannot, and a spreadsheet that opens one turns "007" into 7 and
// runs "=SUM(1;2)". The workbook is written with libxlsxwriter and read with
// libzip and expat; every text is UTF-8 in them.
//
// Writing: one sheet, the header row "name", "location", then a row a
// record, every cell a text cell.
//
// Reading (xlsx, ods): the first sheet, its rows in order, with the header
// rules of CSV (ImportInput.h). A cell holds a text, a number (given as the
// shortest text that reads back as the same number: what the spreadsheet
// showed may have been rounded or formatted), a truth value, a date (as the
// file stores it) or nothing. A row is numbered as the spreadsheet numbers
// it. A workbook that is damaged, or larger than the bounds below, is a
// problem of the whole file: nothing of it is imported.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace vrindel::cli {

// The most records a sheet holds: its rows but the header's.
inline constexpr std::size_t MaxSheetRecords = (std::size_t(1) << 20) - 1;

// What keeps a hostile workbook from taking the machine: the file itself,
// what its parts unpack to in all (a zip bomb stops there, however well it
// packs), its number of parts, how deep its XML nests, and its table of
// texts. A spreadsheet's XML packs to a tenth or a twentieth; a part that
// unpacks to a hundred times its file and more is a bomb, and the base
// leaves room for a small file of empty rows.
inline constexpr std::size_t MaxWorkbookBytes = std::size_t(256) << 20;
inline constexpr std::size_t MaxUnpackedBytes = std::size_t(1) << 30;
inline constexpr std::size_t UnpackedBase = std::size_t(64) << 20;
inline constexpr std::size_t UnpackedPerByte = 100;
inline constexpr std::size_t maxUnpacked(std::size_t fileBytes) {
    return fileBytes >= (MaxUnpackedBytes - UnpackedBase) / UnpackedPerByte ? MaxUnpackedBytes
                                                                           : UnpackedBase + UnpackedPerByte * fileBytes;
}
inline constexpr std::size_t MaxWorkbookParts = 10000;
inline constexpr int MaxXmlDepth = 64;
inline constexpr std::size_t MaxXmlTokenBytes = std::size_t(4) << 20;
inline constexpr std::size_t MaxSharedTexts = std::size_t(1) << 23;
// The widest row a spreadsheet makes, and the cells a sheet may come to in
// all, the empty ones before a cell included: a cell or row repeated (ods)
// or placed far to the right (xlsx) costs the file a few bytes and the
// reading a string a cell.
inline constexpr std::size_t MaxSheetColumns = 16384;
inline constexpr std::size_t MaxSheetCells = std::size_t(1) << 25;

// Whether bytes start as a zip archive (and so an xlsx or ods file) does.
bool startsAsZip(std::string_view bytes);

// Builds the workbook in a temporary file (libxlsxwriter writes to a file by
// name), and copies it to the output at the end.
class WorkbookWriter {
public:
    WorkbookWriter();
    ~WorkbookWriter();
    WorkbookWriter(const WorkbookWriter&) = delete;
    WorkbookWriter& operator=(const WorkbookWriter&) = delete;

    void record(std::string_view utf8Name, std::string_view utf8Location);
    // The workbook closed and copied to `out`; false (errno set) when any of
    // it failed.
    bool finish(std::FILE* out);

private:
    struct Book;
    std::unique_ptr<Book> book_;
};

// A text as a workbook cell holds it: a character XML cannot carry (a
// control character, a CR that XML would read as a line break) as _xHHHH_,
// and a text that already looks so with its underscore as _x005F_, as the
// spreadsheets themselves do.
std::string escapedForCell(std::string_view utf8);
// The other way: every _xHHHH_ the character it stands for.
std::string unescapedFromCell(std::string_view text);
// A number cell's value as the shortest text that reads back as the same
// number ("7", "3.14", "1e+21"); anything else is left as it is.
std::string numberText(std::string_view value);

}  // namespace vrindel::cli
