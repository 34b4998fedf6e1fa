// Arbitrary bytes as a workbook to import. A file that starts as a zip
// archive is read as it is; any other input is the XML of a workbook's parts,
// packed here (stored, so that what the fuzzer changes reaches the XML
// whole): the first byte picks xlsx or ods; for xlsx a NUL byte parts the
// sheet from the table of texts, for ods the rest is content.xml.
//
// Nothing may crash, leak or run away; rows come in the order of the
// sheet's rows, each on a row a sheet has; and every row that can be stored,
// written out again as xlsx, reads back as the same texts.

#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Formats.h"
#include "FuzzSupport.h"
#include "WrittenComesBack.h"
#include "Texts.h"
#include "Workbook.h"
#include "text/RecordText.h"

using namespace vrindel;
using namespace vrindel::cli;
using vrindel::fuzz::check;

namespace {

// The parts packed as a zip archive, in memory.
std::string zipOf(const std::vector<std::pair<std::string, std::string_view>>& parts) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(nullptr, 0, 0, &error);
    check(source != nullptr, "cannot make an archive in memory");
    zip_source_keep(source);
    zip_t* zip = zip_open_from_source(source, ZIP_TRUNCATE, &error);
    check(zip != nullptr, "cannot open an archive in memory");
    for (const auto& [name, bytes] : parts) {
        zip_source_t* part = zip_source_buffer(zip, bytes.data(), bytes.size(), 0);
        const zip_int64_t index = zip_file_add(zip, name.c_str(), part, 0);
        check(index >= 0, "cannot add a part");
        zip_set_file_compression(zip, zip_uint64_t(index), ZIP_CM_STORE, 0);
    }
    check(zip_close(zip) == 0, "cannot close an archive in memory");
    std::string archive;
    check(zip_source_open(source) == 0, "cannot read an archive in memory");
    char piece[1 << 16];
    for (zip_int64_t got; (got = zip_source_read(source, piece, sizeof piece)) > 0;)
        archive.append(piece, std::size_t(got));
    zip_source_close(source);
    zip_source_free(source);
    zip_error_fini(&error);
    return archive;
}

std::string workbookOf(std::string_view input) {
    if (startsAsZip(input) || input.empty())
        return std::string(input);
    const bool ods = input[0] & 1;
    input.remove_prefix(1);
    if (ods)
        return zipOf({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"}, {"content.xml", input}});
    const std::size_t nul = input.find('\0');
    const std::string_view sheet = input.substr(0, nul);
    const std::string_view shared = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
    return zipOf({{"xl/workbook.xml",
                   "<workbook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                   "<sheets><sheet r:id=\"rId1\"/></sheets></workbook>"},
                  {"xl/_rels/workbook.xml.rels",
                   "<Relationships><Relationship Id=\"rId1\" Type=\"x/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
                   "<Relationship Id=\"rId2\" Type=\"x/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>"},
                  {"xl/worksheets/sheet1.xml", sheet},
                  {"xl/sharedStrings.xml", shared}});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string workbook = workbookOf(std::string_view(reinterpret_cast<const char*>(data), size));
    const ImportFile read = readRecords(Format::Xlsx, workbook);
    std::size_t last = 0;
    for (const ImportRow& row : read.rows) {
        check(row.line > last, "rows out of the order of the sheet's rows");
        check(row.line <= MaxSheetRecords + 1, "a row past the sheet's last");
        last = row.line;
    }
    check(read.problem.empty() || read.problemLine <= MaxSheetRecords + 1, "a problem on a row a sheet lacks");
    if (!read.problem.empty())
        return 0;

    const fuzz::StoredRows stored = fuzz::storableRows(read);
    if (!stored.empty())
        fuzz::checkWrittenComesBack(Format::Xlsx, stored);
    return 0;
}
