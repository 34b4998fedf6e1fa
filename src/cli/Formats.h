#pragma once
// The formats records leave and enter by: CSV (RFC 4180, header
// "name,location"), TSV (header "name<TAB>location", tab, line break and
// backslash written as \t, \n, \r, \\), a JSON array of {"name",
// "location"}, a spreadsheet's workbook (xlsx both ways, ods read only; see
// Workbook.h), and plain text for people. Every text is UTF-8; a record
// text's bytes travel as the characters the library maps them to, the
// bytes Windows-1250 leaves undefined included, so nothing is lost.

#include <cstddef>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vrindel::cli {

enum class Format { Text, Csv, Tsv, Json, Xlsx, Ods };

// For the parser: "text", "csv", "tsv", "json", "xlsx", "ods".
const std::map<std::string, Format>& formatNames();
// Whether records of the format live in a workbook: binary, never for a terminal.
inline bool isWorkbook(Format format) { return format == Format::Xlsx || format == Format::Ods; }
// From a file name's extension (.csv, .tsv, .tab, .json, .xlsx, .ods), if it tells.
std::optional<Format> formatOfFile(std::string_view path);

// How a CSV file is laid out beyond RFC 4180's defaults. A spreadsheet in a
// Slovak (or most other European) locale takes `;` as its delimiter and
// reads a text file as UTF-8 only after a byte order mark; one whose import
// settings tick several separators at once (Calc remembers comma, semicolon
// and tab) splits an unquoted field at any of them, so such a file quotes
// a field holding any of them.
//
// A spreadsheet also takes a cell that starts with = + - @ (or a tab or CR
// before them) for a formula, which runs when the file is opened: a name
// "=HYPERLINK(...)" becomes a link that calls out. Its file therefore holds
// such a text behind an apostrophe, which makes it text for the spreadsheet
// and is taken off again on import (see `formulaAsText`). The plain CSV is
// for programs and holds every text as it is.
struct CsvStyle {
    char delimiter = ',';
    bool byteOrderMark = false;
    const char* quoteFor = ",";   // what makes a field quoted besides quotes and line breaks
    bool formulasAsText = false;
};
inline constexpr CsvStyle SpreadsheetCsv{';', true, ";,\t", true};

// Whether a spreadsheet's CSV holds `text` behind an apostrophe: it starts
// with what makes a formula, after any apostrophes of its own, so that an
// apostrophe a text truly starts with comes back too and "'90s" stays as it
// is. A CSV with `;` between fields is a spreadsheet's, and a field read from
// it that starts with an apostrophe before such a text loses that one.
bool needsApostrophe(std::string_view text);

// Writes records to a stream, buffered. Texts are given as stored
// (Windows-1250).
class WorkbookWriter;

class RecordWriter {
public:
    RecordWriter(Format format, std::FILE* out, CsvStyle csv = {});
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    void record(std::string_view name, std::string_view location);
    // Closes the JSON array and writes out what is buffered; false if the
    // stream failed.
    bool finish();

private:
    void flushIfFull();
    void field(std::string_view utf8);

    Format format_;
    CsvStyle csv_;
    std::FILE* out_;
    std::string buffer_;
    std::string utf8_;
    std::string asText_;
    std::unique_ptr<WorkbookWriter> workbook_;
    bool first_ = true;
    bool failed_ = false;
};

// One row of a file to import, in UTF-8 as the file gave it. `line` is the
// line the row starts on, counted from 1.
struct ImportRow {
    std::size_t line = 0;
    std::string name;
    std::string location;
    std::string problem;   // why the row is malformed; empty when it is not
};

// What a reader found. A problem of the whole file (not JSON, no header)
// stops the reading: `problem` says why, at `problemLine`.
struct ImportFile {
    std::vector<ImportRow> rows;
    std::string problem;
    std::size_t problemLine = 0;
};

// A file to import, a piece at a time: the readers never hold more of it
// than the rows they are reading, so that an endless input (/dev/zero, a
// pipe that never ends) is an error and not a machine out of memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `room` bytes into `into`; 0 only at the end. A failure throws.
    virtual std::size_t read(char* into, std::size_t room) = 0;
};

// The bounds that make a broken or endless input an error with its line
// rather than a read without end. A stored text has at most 31 bytes, so
// a longer field is a problem of its row anyway; these only keep the
// reading short. A field is a row's problem; a row (CSV, TSV) or array
// element (JSON) without an end within MaxRowBytes ends the reading.
inline constexpr std::size_t MaxFieldBytes = 4096;
inline constexpr std::size_t MaxRowBytes = 65536;

// How the bytes of a CSV or TSV file are text. Auto: UTF-8 when the file
// starts with a byte order mark or its first piece (256 KiB) is valid
// UTF-8, Windows-1250 otherwise, as a spreadsheet saves it in a Central
// European locale. JSON is always UTF-8.
enum class Encoding { Auto, Utf8, Windows1250 };

// What a spreadsheet may have chosen for a CSV file. A delimiter of 0 is
// found on the header line: whichever of `,` `;` and tab it holds most
// often outside quotes (`,` when it holds none).
struct TableDialect {
    char delimiter = 0;
    Encoding encoding = Encoding::Auto;
};

// The delimiter a header line uses, by the rule above.
char sniffDelimiter(std::string_view headerLine);

// Never throws on any input; a UTF-8 byte order mark at the start is
// skipped. Whatever the format given, an input that starts as a zip archive
// does is read as a workbook: no text file starts so.
ImportFile readRecords(Format format, std::string_view data, const TableDialect& dialect = {});

// The same one row at a time, for a million rows: `each` gets every row in
// the order of the file, in an object it is given again for the next row.
// Returns the file with no rows and the problem of the whole file, if any;
// the rows handed out before such a problem count for nothing. A row is
// reported on the line it starts on. A CSV quote that is never closed (or
// not within MaxFieldBytes) is a problem of its row, and the reading goes
// on at the line after the quote's own: every row after it is read again,
// and so is imported or reported, never swallowed by the quote.
ImportFile readRecords(Format format, std::string_view data, const std::function<void(ImportRow&)>& each,
                       const TableDialect& dialect = {});
// Only read errors of the source are thrown.
ImportFile readRecords(Format format, ByteSource& source, const std::function<void(ImportRow&)>& each,
                       const TableDialect& dialect = {});

}  // namespace vrindel::cli
