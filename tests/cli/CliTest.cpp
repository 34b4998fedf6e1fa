// vrindel-cli as a user runs it: the built program in a scratch folder.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "store/CatalogueStore.h"
#include "store/io/ThisComputer.h"
#include "TestSupport.h"

namespace vrindel::test {
namespace {

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    q += '\'';
    return q;
}

class Cli : public ::testing::Test {
protected:
    // Runs the program in the scratch folder; `input` is its standard input,
    // `output` where its standard output goes.
    Result run(const std::vector<std::string>& args, const std::string& input = "",
               const std::string& output = ">.out") {
        writeBytes(dir.file(".in"), input);
        std::string command = "cd ";
        command += quoted(dir.path().string());
        command += " && ";
        command += language;
        command += ' ';
        command += as;
        command += quoted(VRINDEL_CLI);
        for (const auto& a : args) {
            command += ' ';
            command += quoted(a);
        }
        command += " <.in " + output + " 2>.err";
        const int status = std::system(command.c_str());
        Result r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = readBytes(dir.file(".out"));
        r.err = readBytes(dir.file(".err"));
        return r;
    }

    // A catalogue of (name, location) pairs given in UTF-8.
    void makeCatalogue(const std::vector<std::pair<std::string, std::string>>& records) {
        std::string bytes;
        for (const auto& [name, location] : records)
            bytes += record(cp(name)) + record(cp(location));
        writeBytes(catalogue(), bytes);
    }
    std::string catalogue() const { return dir.file("Zoznam.dat"); }

    ScratchDir dir;
    std::string as;   // put before the program: another user, say
    // The messages' language; English unless a test says otherwise, whatever
    // the locale the tests run in.
    std::string language = "LC_ALL=C.UTF-8 LANGUAGE=";
};

// A million records, unique under the catalogue's comparison (a number
// leads every name), that between them hold every byte value in names and
// locations, the five that Windows-1250 leaves undefined included.
std::string millionRecords(std::size_t count) {
    std::string bytes;
    bytes.reserve(count * 64);
    std::uint32_t state = 12345;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (std::size_t i = 0; i < count; ++i) {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%07zu", i);
        std::string name = digits;
        const std::size_t extra = i % 25;
        for (std::size_t k = 0; k < extra; ++k)
            name += char((i * 7 + k * 31) & 0xFF);
        std::string location;
        const std::size_t length = next() % 32;
        for (std::size_t k = 0; k < length; ++k)
            location += char(next() >> 24);
        bytes += record(name) + record(location);
    }
    return bytes;
}

// A million in the ordinary build; a tenth under the sanitizers, where the
// same million takes minutes.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t RoundTripRecords = 100000;
#else
constexpr std::size_t RoundTripRecords = 1000000;
#endif

TEST_F(Cli, ExportThenImportIntoAnEmptyFolderGivesTheSameFileByteForByte) {
    struct Case {
        const char* format;
        std::size_t records;
    };
    for (const Case& c : {Case{"csv", RoundTripRecords}, Case{"tsv", 20000}, Case{"json", 20000}, Case{"xlsx", 20000}}) {
        SCOPED_TRACE(c.format);
        const std::string original = millionRecords(c.records);
        writeBytes(catalogue(), original);
        const std::string exported = std::string("export.") + c.format;
        Result r = run({"export", "-o", exported});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");   // no progress bar where no terminal is

        std::filesystem::create_directory(dir.file("empty"));
        r = run({"-C", "empty", "import", "../" + exported});
        ASSERT_EQ(r.code, 0) << r.err;
        const std::string imported = readBytes(dir.file("empty/Zoznam.dat"));
        EXPECT_EQ(imported.size(), original.size());
        EXPECT_TRUE(imported == original) << "the imported catalogue differs";
        std::filesystem::remove_all(dir.file("empty"));
    }

    // A sheet holds 1,048,575 records and a header: a catalogue of one more
    // is refused as a whole, found though the records are written as read.
    writeBytes(catalogue(), millionRecords(std::size_t(1) << 20));
    writeBytes(dir.file("export.xlsx"), "an older export\n");
    const Result big = run({"export", "-o", "export.xlsx"});
    EXPECT_EQ(big.code, 1);
    EXPECT_NE(big.err.find("a sheet holds at most 1048575 records and the catalogue has 1048576; nothing was written"),
              std::string::npos)
        << big.err;
    EXPECT_TRUE(readBytes(dir.file("export.xlsx")) == "an older export\n") << "the older export was replaced";

    // JSON shown on a terminal sends it no control character: DEL and the C1
    // controls (bytes Windows-1250 leaves undefined) are escaped too, and
    // every escape is a \u one.
    writeBytes(catalogue(), record("a\x08" "b\x0c" "c\x7f" "d\x81" "e") + record("\x83" "1m"));
    const Result json = run({"list", "--format", "json"});
    EXPECT_EQ(json.out, "[\n  {\"name\": \"a\\u0008b\\u000cc\\u007fd\\u0081e\", \"location\": \"\\u00831m\"}\n]\n");
}

// A zip archive of the parts given, as a spreadsheet's file is one.
void writeZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& parts) {
    std::remove(path.c_str());
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(zip, nullptr);
    for (const auto& [name, bytes] : parts) {
        zip_source_t* source = zip_source_buffer(zip, bytes.data(), bytes.size(), 0);
        ASSERT_GE(zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8), 0) << name;
    }
    ASSERT_EQ(zip_close(zip), 0);
}

// One part of a zip archive, unpacked.
std::string partOf(const std::string& path, const std::string& name) {
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!zip)
        return {};
    std::string bytes;
    if (zip_file_t* file = zip_fopen(zip, name.c_str(), 0)) {
        char piece[4096];
        for (zip_int64_t got; (got = zip_fread(file, piece, sizeof piece)) > 0;)
            bytes.append(piece, std::size_t(got));
        zip_fclose(file);
    }
    zip_discard(zip);
    return bytes;
}

// The parts of an xlsx workbook whose first sheet is `sheet` (the XML of its
// <sheetData>), with `shared` as its table of texts when given.
std::vector<std::pair<std::string, std::string>> xlsxParts(const std::string& sheet, const std::string& shared = {}) {
    const std::string main = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
    std::vector<std::pair<std::string, std::string>> parts{
        {"xl/workbook.xml",
         "<?xml version=\"1.0\"?><workbook " + main +
             " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
             "<sheet name=\"Zoznam\" sheetId=\"1\" r:id=\"rId7\"/><sheet name=\"Iný\" sheetId=\"2\" r:id=\"rId2\"/>"
             "</sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
         "Target=\"worksheets/sheet1.xml\"/>"
         "<Relationship Id=\"rId7\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
         "Target=\"/xl/worksheets/first.xml\"/>"
         "<Relationship Id=\"rId9\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
         "Target=\"sharedStrings.xml\"/></Relationships>"},
        {"xl/worksheets/first.xml", "<?xml version=\"1.0\"?><worksheet " + main + "><sheetData>" + sheet +
                                        "</sheetData></worksheet>"},
        {"xl/worksheets/sheet1.xml", "<worksheet " + main + "><sheetData><row r=\"1\"><c t=\"inlineStr\"><is><t>x"
                                     "</t></is></c></row></sheetData></worksheet>"}};
    if (!shared.empty())
        parts.emplace_back("xl/sharedStrings.xml", "<?xml version=\"1.0\"?><sst " + main + ">" + shared + "</sst>");
    return parts;
}

// The parts of an ods workbook whose first table holds `rows`.
std::vector<std::pair<std::string, std::string>> odsParts(const std::string& rows) {
    return {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
            {"content.xml",
             "<?xml version=\"1.0\"?><office:document-content "
             "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
             "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
             "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
             "xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\">"
             "<office:body><office:spreadsheet><table:table table:name=\"Zoznam\">" + rows +
                 "</table:table><table:table table:name=\"Iný\"><table:table-row><table:table-cell "
                 "office:value-type=\"string\"><text:p>x</text:p></table:table-cell></table:table-row></table:table>"
                 "</office:spreadsheet></office:body></office:document-content>"}};
}

// What a CSV file cannot type comes through a workbook as it is: a name of
// digits with its leading zero, a text a spreadsheet would run as a formula,
// Slovak letters, the longest name; and what a spreadsheet made of a CSV
// export (7 for "007") is listed by a dry run before it goes in as a new
// record.
TEST_F(Cli, AWorkbookKeepsWhatCsvCannotTypeBothWays) {
    const std::string longest = "Šťastný kôň ľúbi ďatelinu 12345";   // 31 characters
    makeCatalogue({{"007", "Skriňa 2"}, {"=SUM(1;2)", "Polica č. 3"}, {longest, "-5"}, {"_x0041_", " +421 "}});
    const std::string before = readBytes(catalogue());
    Result r = run({"export", "-o", "zoznam.xlsx"});
    ASSERT_EQ(r.code, 0) << r.err;
    // Every cell text, none a formula or a number.
    const std::string sheet = partOf(dir.file("zoznam.xlsx"), "xl/worksheets/sheet1.xml");
    EXPECT_EQ(sheet.find("<f>"), std::string::npos) << sheet;
    std::size_t cells = 0, textCells = 0;
    for (std::size_t at = 0; (at = sheet.find("<c ", at)) != std::string::npos; ++at, ++cells)
        textCells += sheet.compare(sheet.find('>', at) - 13, 13, "t=\"inlineStr\"") == 0;
    EXPECT_EQ(cells, 10u);
    EXPECT_EQ(textCells, cells) << sheet;

    std::filesystem::create_directory(dir.file("empty"));
    r = run({"-C", "empty", "import", "-"}, readBytes(dir.file("zoznam.xlsx")));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readBytes(dir.file("empty/Zoznam.dat")), before);

    // The workbook a spreadsheet gave back from a CSV export.
    writeZip(dir.file("back.xlsx"),
             xlsxParts("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>name</t></is></c>"
                       "<c r=\"B1\" t=\"inlineStr\"><is><t>location</t></is></c></row>"
                       "<row r=\"2\"><c r=\"A2\"><v>7</v></c><c r=\"B2\" t=\"inlineStr\"><is><t>Skriňa 2</t></is></c></row>"
                       "<row r=\"3\"><c r=\"A3\"><f>SUM(1;2)</f><v>3</v></c><c r=\"B3\" t=\"inlineStr\"><is><t>Polica 4</t></is></c></row>"
                       "<row r=\"4\"><c r=\"A4\" t=\"inlineStr\"><is><t>007</t></is></c><c r=\"B4\" t=\"inlineStr\"><is><t>Skriňa 5</t></is></c></row>"));
    r = run({"import", "back.xlsx", "--update", "--dry-run"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "back.xlsx:2: would add \"7\" at \"Skriňa 2\"\n"
              "back.xlsx:3: would add \"3\" at \"Polica 4\"\n"
              "back.xlsx:4: would move \"007\" from \"Skriňa 2\" to \"Skriňa 5\"\n"
              "Would import 2 records and change the location of 1 record in Zoznam.dat.\n");
    EXPECT_EQ(readBytes(catalogue()), before);
}

// The first sheet of a workbook, with CSV's header rules: columns in any
// order and either language, others left out; texts shared or inline, a
// number as the shortest text of its value, a row's empty cells left out or
// repeated, blank rows skipped; a row is told by the spreadsheet's number.
TEST_F(Cli, ImportReadsTheFirstSheetOfAnXlsxOrOdsWorkbook) {
    struct Case {
        const char* file;
        std::vector<std::pair<std::string, std::string>> parts;
        std::vector<std::pair<std::string, std::string>> imported;   // as stored, Windows-1250
    };
    const std::string cell = "<table:table-cell office:value-type=\"string\" calcext:value-type=\"string\"><text:p>";
    const std::string end = "</text:p></table:table-cell>";
    const Case cases[] = {
        {"shared.xlsx",
         xlsxParts("<row r=\"2\"><c r=\"B2\" t=\"s\"><v>0</v></c><c r=\"C2\" t=\"s\"><v>1</v></c><c r=\"D2\" t=\"s\"><v>2</v></c></row>"
                   "<row r=\"3\"><c r=\"B3\" t=\"s\"><v>3</v></c><c r=\"D3\" t=\"s\"><v>4</v></c></row>"
                   "<row r=\"5\"><c r=\"B5\"><v>3.1400000000000001</v></c><c r=\"C5\" t=\"inlineStr\"><is><t>x</t></is></c>"
                   "<c r=\"D5\" t=\"b\"><v>1</v></c></row>"
                   "<row r=\"6\"><c r=\"B6\" t=\"str\"><f>A1</f><v>a_x000D_b</v></c><c r=\"D6\"><v>1E+21</v></c></row>",
                   "<si><t>Umiestnenie</t></si><si><t>Pozn.</t></si><si><t>NÁZOV</t></si>"
                   "<si><r><t>Po</t></r><r><t xml:space=\"preserve\">lica </t></r><rPh><t>ぽ</t></rPh></si><si><t>Šachy</t></si>"),
         {{cp("Šachy"), "Polica "}, {"TRUE", "3.14"}, {"1e+21", "a\rb"}}},
        {"repeated.ods",
         odsParts("<table:table-row>" + cell + "name" + end + cell + "location" + end +
                  "<table:table-cell table:number-columns-repeated=\"16382\"/></table:table-row>"
                  "<table:table-row table:number-rows-repeated=\"2\"><table:table-cell/></table:table-row>"
                  "<table:table-row><table:table-cell office:value-type=\"float\" office:value=\"7\" calcext:value-type=\"float\">"
                  "<text:p>007</text:p></table:table-cell>" + cell + "<text:s/>CD<text:s text:c=\"2\"/>12" + end +
                  "<table:table-cell table:number-columns-repeated=\"5\"/></table:table-row>"
                  "<table:table-row>" + cell + "Hry<text:line-break/>staré" + end +
                  "<table:table-cell office:value-type=\"string\"><office:annotation><text:p>pozn</text:p></office:annotation>"
                  "<text:p>a</text:p><text:p>b</text:p></table:table-cell></table:table-row>"
                  "<table:table-row table:number-rows-repeated=\"1048571\"><table:table-cell table:number-columns-repeated=\"1024\"/>"
                  "</table:table-row>"),
         {{"7", " CD  12"}, {cp("Hry\nstaré"), "a\nb"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::filesystem::remove(catalogue());
        writeZip(dir.file(c.file), c.parts);
        const Result r = run({"import", c.file});
        EXPECT_EQ(r.code, 0) << r.err;
        std::string expected;
        for (const auto& [name, location] : c.imported)
            expected += record(name) + record(location);
        EXPECT_EQ(readBytes(catalogue()), expected);
    }
}

// A workbook that is damaged, or made to take the machine, is refused with
// why, and nothing of it is imported; so is a row that does not fit.
TEST_F(Cli, ImportRefusesADamagedOrHostileWorkbookAndImportsNothing) {
    makeCatalogue({{"Chata", "CD 1"}});
    const std::string before = readBytes(catalogue());
    ASSERT_EQ(run({"export", "-o", "good.xlsx"}).code, 0);
    const std::string good = readBytes(dir.file("good.xlsx"));
    const std::string header = "<row r=\"1\"><c t=\"inlineStr\"><is><t>name</t></is></c><c t=\"inlineStr\"><is><t>location</t></is></c></row>";
    const std::string row2 = "<row r=\"2\"><c t=\"inlineStr\"><is><t>a</t></is></c><c t=\"inlineStr\"><is><t>b</t></is></c></row>";
    std::string deep;
    for (int k = 0; k < 70; ++k)
        deep += "<x>";
    struct Case {
        const char* file;
        std::vector<std::pair<std::string, std::string>> parts;   // none: the good workbook cut in half
        const char* expected;
    };
    const Case cases[] = {
        {"cut.xlsx", {}, "cut.xlsx: a damaged workbook: not a zip archive that can be read; nothing was imported"},
        {"other.xlsx", {{"a.txt", "a"}}, "other.xlsx: neither an xlsx nor an ods workbook"},
        {"bomb.xlsx", xlsxParts(header + row2 + "<x>" + std::string(std::size_t(100) << 20, ' ') + "</x>"),
         "bomb.xlsx: a workbook whose parts unpack to more than "},
        {"comment.xlsx", xlsxParts(header + row2 + "<!--" + std::string(std::size_t(8) << 20, ' ') + "-->"),
         "comment.xlsx: a damaged workbook: xl/worksheets/first.xml has a tag or comment longer than 4 MiB"},
        {"deep.xlsx", xlsxParts(header + deep), "deep.xlsx: a damaged workbook: xl/worksheets/first.xml nests deeper than 64 levels"},
        {"laughs.xlsx",
         {{"xl/workbook.xml", "<!DOCTYPE w [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]><workbook>&b;</workbook>"}},
         "laughs.xlsx: a damaged workbook: xl/workbook.xml declares a document type"},
        {"broken.xlsx", xlsxParts(header + "\n<row r=\"2\"><c><v>1</c></row>"),
         "broken.xlsx: a damaged workbook: xl/worksheets/first.xml is not well-formed XML (line 2)"},
        {"text.xlsx", xlsxParts(header + "<row r=\"2\"><c t=\"s\"><v>0</v></c><c t=\"s\"><v>5</v></c></row>", "<si><t>a</t></si>"),
         "text.xlsx: a damaged workbook: a cell refers to text 5, which xl/sharedStrings.xml lacks"},
        {"order.xlsx", xlsxParts(header + row2 + "<row r=\"2\"/>"),
         "order.xlsx: a damaged workbook: xl/worksheets/first.xml has a cell out of place (row 2)"},
        {"wide.ods", odsParts("<table:table-row><table:table-cell table:number-columns-repeated=\"16385\" "
                              "office:value-type=\"float\" office:value=\"1\"/><table:table-cell/></table:table-row>"),
         "wide.ods: a damaged workbook: content.xml has a cell out of place (row 1)"},
        {"cells.ods", odsParts("<table:table-row><table:table-cell><text:p>name</text:p></table:table-cell><table:table-cell>"
                               "<text:p>location</text:p></table:table-cell></table:table-row>"
                               "<table:table-row table:number-rows-repeated=\"1048575\"><table:table-cell "
                               "table:number-columns-repeated=\"1000\" office:value-type=\"float\" office:value=\"1\"/>"
                               "</table:table-row>"),
         "cells.ods:33556: a sheet of more than 33554432 cells; nothing was imported"},
        {"header.xlsx", xlsxParts("<row r=\"3\"><c t=\"inlineStr\"><is><t>meno</t></is></c></row>" + row2),
         "header.xlsx:3: the first line must be a header"},
        {"fields.xlsx", xlsxParts(header + "<row r=\"4\"><c r=\"A4\"><v>1</v></c><c r=\"C4\"><v>2</v></c></row>"),
         "fields.xlsx:4: 3 fields where the header has 2"},
        {"long.ods", odsParts("<table:table-row><table:table-cell><text:p>name</text:p></table:table-cell><table:table-cell>"
                              "<text:p>location</text:p></table:table-cell></table:table-row><table:table-row><table:table-cell>"
                              "<text:p>Chata</text:p></table:table-cell><table:table-cell><text:p>" +
                              std::string(5000, 'x') + "</text:p></table:table-cell></table:table-row>"),
         "long.ods:2: a field longer than 4096 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (c.parts.empty())
            writeBytes(dir.file(c.file), good.substr(0, good.size() / 2));
        else
            writeZip(dir.file(c.file), c.parts);
        const Result r = run({"import", c.file});
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_EQ(readBytes(catalogue()), before);
    }
}

TEST_F(Cli, FindIgnoresCaseAndAccentsInNamesAndLocations) {
    makeCatalogue({{"Šachy.zip", "CD 12"}, {"Čistiareň", "Polica 2"}, {"CHATA", "Pivnica"},
                   {"Cesta", "Skriňa"}, {"Ďateľ", "ŠKATUĽA"}});
    struct Case {
        const char* text;
        std::vector<std::string> names;   // in entry order; none: exit 1
    };
    for (const Case& c : {Case{"sa", {"Šachy.zip"}}, Case{"cist", {"Čistiareň"}}, Case{"chata", {"CHATA"}},
                          Case{"ČISTIAREŇ", {"Čistiareň"}}, Case{"skrin", {"Cesta"}}, Case{"škatuľa", {"Ďateľ"}},
                          Case{"date", {"Ďateľ"}}, Case{"c", {"Šachy.zip", "Čistiareň", "CHATA", "Cesta"}},
                          Case{"xyz", {}}}) {
        SCOPED_TRACE(c.text);
        const Result r = run({"find", c.text, "--format", "json"});
        EXPECT_EQ(r.code, c.names.empty() ? 1 : 0) << r.err;
        std::vector<std::string> found;
        const std::string key = "{\"name\": \"";
        for (std::size_t at = 0; (at = r.out.find(key, at)) != std::string::npos; ++at) {
            const std::size_t from = at + key.size();
            found.push_back(r.out.substr(from, r.out.find('"', from) - from));
        }
        EXPECT_EQ(found, c.names);
    }
}

TEST_F(Cli, ImportReportsEachRowThatCannotBeStoredWithItsLineAndWritesNothing) {
    makeCatalogue({{"Chata", "CD 1"}});
    const std::string before = readBytes(catalogue());
    struct Case {
        const char* file;
        std::string content;
        const char* expected;   // on standard error
    };
    const std::string longName(32, 'x');
    std::string pieces;
    // Rows of plain ASCII past the first 256 KiB the readers look at at once.
    std::string plain;
    for (int k = 0; k < 40000; ++k)
        plain += numbered("r", k) + ",b\n";
    for (int k = 0; k < 5; ++k)
        pieces += " {\"name\": \"n" + std::to_string(k) + "\", \"location\": \"a\", \"note\": \"" + std::string(60000, 'x') + "\"},\n";
    const Case cases[] = {
        {"long.csv", "name,location\nok,a\n" + longName + ",b\n", "long.csv:3: the name is 32 characters long (at most 31)"},
        {"greek.csv", "name,location\r\nok,a\r\nΩmega,b\r\n", "greek.csv:3: the name holds \"Ω\" (U+03A9), which Windows-1250 cannot store"},
        {"listed.csv", "name,location\nCHATA,b\n", "listed.csv:2: the name is already listed (as \"Chata\")"},
        {"twice.csv", "name,location\nDom,\"a\nb\"\nok,b\n\"DOM\",c\n", "twice.csv:5: the name is twice in the file (first on line 2)"},
        {"twice2.csv", "name,location\nDom,a\nok,b\nDOM,c\n", "twice2.csv:4: the name is twice in the file (first on line 2)"},
        // The first after a refused row, blank lines and a field across two lines.
        {"twice3.csv", "name,location\nbad,a,c\n\nok,b\nDom,c\n\nx,\"1\n2\"\nDOM,d\n",
         "twice3.csv:9: the name is twice in the file (first on line 5)"},
        {"twice4.csv", "name,location\nΩ,a\nok,b\nDom,c\nDOM,d\n", "twice4.csv:5: the name is twice in the file (first on line 4)"},
        // A name found listed after the reading is told in the order of the lines all the same.
        {"order.csv", "name,location\nCHATA,b\na,b,c\n",
         "order.csv:2: the name is already listed (as \"Chata\"); --update changes its location\n"
         "vrindel-cli: order.csv:3: 3 fields where the header has 2"},
        {"fields.csv", "name,location\nok,a\na,b,c\n", "fields.csv:3: 3 fields where the header has 2"},
        {"quote.csv", "name,location\nok,a\n\"open,b\n", "quote.csv:3: a quoted field is not closed"},
        {"field.csv", "name,location\nok,a\n" + std::string(5000, 'x') + ",b\n", "field.csv:3: a field longer than 4096 bytes"},
        {"row.csv", "name,location\nok,a\n" + std::string(70000, 'x') + ",b\n", "row.csv:3: a row runs on for more than 65536 bytes"},
        {"row.tsv", "name\tlocation\nok\ta\n" + std::string(70000, 'x') + "\tb\n", "row.tsv:3: a row runs on for more than 65536 bytes"},
        {"row.json", "[\n {\"name\": \"ok\", \"location\": \"a\"},\n {\"name\": \"" + std::string(70000, 'x') + "\"}]", "row.json:3: an element runs on for more than 65536 bytes"},
        {"after.csv", "name,location\n\"a\"x,b\nok,a\n", "after.csv:2: text after a field's closing quote"},
        {"utf8.csv", "\xEF\xBB\xBFname,location\nok,a\n\xC3,b\n", "utf8.csv:3: the name is not valid UTF-8"},
        // Neither all UTF-8 nor plausibly all Windows-1250: the line where they first disagree.
        {"mixed.csv", "name,location\nStr\xE8ny,X\n\xC5\xA0" "achy.zip,Polica \xC4\x8D\n",
         "mixed.csv:3: mixed encodings: line 2 is Windows-1250, this line UTF-8 (--encoding says which the file is)"},
        {"mixed2.tsv", "name\tlocation\n\xC5\xA0" "achy\ta\nStr\xE8ny\tX\n",
         "mixed2.tsv:3: mixed encodings: line 2 is UTF-8, this line is not (--encoding says which the file is)"},
        {"mixed3.csv", "name,location\nStr\xE8ny,X\n" + plain + "\xC5\xA0,c\n",
         "mixed3.csv:40003: mixed encodings: line 2 is Windows-1250"},
        {"header.csv", "meno,miesto\nok,a\n", "header.csv:1: the first line must be a header"},
        // Text that begins with a byte order mark is text, whatever follows it: no zip archive does.
        {"bomzip.csv", "\xEF\xBB\xBFPK\x03\x04,b\n", "bomzip.csv:1: the first line must be a header"},
        {"escape.tsv", "name\tlocation\nok\ta\nb\\x\tc\n", "escape.tsv:3: an unknown escape \"\\x\""},
        {"control.tsv", "name\tlocation\nok\ta\nb\\\x1b\tc\n", "control.tsv:3: an unknown escape \"\\\\x1b\""},
        {"number.json", "[\n {\"name\": \"ok\", \"location\": \"a\"},\n {\"name\": 5, \"location\": \"b\"}\n]", "number.json:3: \"name\" is a number, not a string"},
        {"missing.json", "[\n {\"name\": \"ok\", \"location\": \"a\"},\n\n {\"name\": \"b\"}]", "missing.json:4: no \"location\""},
        // Elements across the reader's 256 KiB pieces, each within the bound: counted on.
        {"pieces.json", "[\n" + pieces + " {\"name\": \"b\"}]", "pieces.json:7: no \"location\""},
        // A number element on its own line, not on the line break after it.
        {"element2.json", "[\n {\"name\": \"ok\", \"location\": \"a\"},\n 5\n]", "element2.json:3: an element is a number, not an object"},
        {"element.json", "[\n {\"name\": \"ok\", \"location\": \"a\"},\n \"b\"]", "element.json:3: an element is a string, not an object"},
        {"syntax.json", "[\n {\"name\": \"ok\",\n \"location\": }]", "syntax.json:3: not valid JSON"},
        {"object.json", "{\"name\": \"ok\", \"location\": \"a\"}", "object.json:1: the file must hold one JSON array"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        writeBytes(dir.file(c.file), c.content);
        // An update reads its rows after the catalogue, each compared as it
        // comes: the same problems, in the same lines, and nothing written.
        for (const char* mode : {"", "--dry-run", "--update"}) {
            if (std::string_view(mode) == "--update" && std::strstr(c.expected, "already listed"))
                continue;
            const Result r = run(*mode ? std::vector<std::string>{"import", c.file, mode}
                                       : std::vector<std::string>{"import", c.file});
            EXPECT_EQ(r.code, 1);
            EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
            EXPECT_EQ(readBytes(catalogue()), before);
        }
    }

    // With --skip-invalid the others are imported, never one that was
    // reported; what was asked is done, so the exit status is 0.
    Result r = run({"import", "twice2.csv", "--skip-invalid"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("twice2.csv:4:"), std::string::npos);
    EXPECT_EQ(r.out, "Imported 2 records into Zoznam.dat.\n");
    EXPECT_EQ(readBytes(catalogue()), before + record("Dom") + record("a") + record("ok") + record("b"));

    // --update: a listed name gets the row's location, in place; a new one
    // is added; a second row for the same record is refused.
    writeBytes(dir.file("update.csv"), "name,location\nDOM,b\nnew,c\nchata,CD 1\nok,z\n");
    r = run({"import", "update.csv", "--update"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Imported 1 record and changed the location of 2 records in Zoznam.dat.\n");
    const std::string updated = before + record("Dom") + record("b") + record("ok") + record("z") +
                                record("new") + record("c");
    EXPECT_EQ(readBytes(catalogue()), updated);
    writeBytes(dir.file("update2.csv"), "name,location\nok,x\nOK,y\n");
    r = run({"import", "update2.csv", "--update"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("update2.csv:3: the name is twice in the file (first on line 2)"), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(catalogue()), updated);

    // Many more new names than the catalogue has: each still found again
    // after them, listed or new.
    std::string many = "name,location\n", grown = before + record("Dom") + record("b") + record("ok") + record("w") +
                                                   record("new") + record("c");
    for (int k = 0; k < 100; ++k) {
        many += numbered("n", k) + ",p\n";
        grown += record(numbered("n", k)) + record("p");
    }
    writeBytes(dir.file("update3.csv"), many + "ok,w\n" + numbered("N", 42) + ",q\nOk,v\nNEW,c\n");
    r = run({"import", "update3.csv", "--update", "--skip-invalid"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "vrindel-cli: update3.csv:103: the name is twice in the file (first on line 44)\n"
                     "vrindel-cli: update3.csv:104: the name is twice in the file (first on line 102)\n");
    EXPECT_EQ(r.out, "Imported 100 records and changed the location of 1 record in Zoznam.dat.\n");
    EXPECT_EQ(readBytes(catalogue()), grown);
}

// The CSV a spreadsheet saves in a Slovak locale, and the one a script
// writes, both come in: the delimiter from the header line, the encoding
// from the bytes, the columns named in either language.
TEST_F(Cli, ImportReadsEachDialectOfCsvASpreadsheetOrAScriptWrites) {
    // Rows of plain ASCII past the first 256 KiB the readers look at at once.
    std::string plain;
    std::vector<std::pair<std::string, std::string>> plainRows;
    for (int k = 0; k < 40000; ++k) {
        plain += numbered("r", k) + ",b\n";
        plainRows.emplace_back(numbered("r", k), "b");
    }
    using Rows = std::vector<std::pair<std::string, std::string>>;
    auto withPlain = [&](Rows before, const Rows& after) {
        before.insert(before.end(), plainRows.begin(), plainRows.end());
        before.insert(before.end(), after.begin(), after.end());
        return before;
    };
    struct Case {
        const char* what;
        std::string content;   // bytes of the file
        std::vector<std::string> options;
        std::vector<std::pair<std::string, std::string>> imported;   // as stored, Windows-1250
    };
    const Case cases[] = {
        {"semicolons, UTF-8 with a byte order mark, CRLF, Slovak header",
         "\xEF\xBB\xBFN\xC3\xA1zov;Umiestnenie\r\n\xC5\xA0" "achy.zip;CD 12\r\nHry, star\xC3\xA9;\"Polica; 2\"\r\n", {},
         {{cp("Šachy.zip"), "CD 12"}, {cp("Hry, staré"), "Polica; 2"}}},
        {"Windows-1250 without accents in the header",
         "NAZOV;UMIESTNENIE\r\n" + cp("Šachy") + ";" + cp("Skriňa") + "\r\n", {},
         {{cp("Šachy"), cp("Skriňa")}}},
        {"tabs, columns in another order, a column left out",
         "Umiestnenie\tPozn\xC3\xA1mka\tpolo\xC5\xBEka\r\nCD 1\tx\tA,B;C\r\n", {},
         {{"A,B;C", "CD 1"}}},
        {"commas on the header line, semicolons in the data", "name,location\nx;y,z\n", {}, {{"x;y", "z"}}},
        {"UTF-8 bytes taken as Windows-1250 when told", "name,location\n\xC5\xA0,x\n",
         {"--encoding", "windows-1250"}, {{"\xC5\xA0", "x"}}},
        {"the delimiter given where the header line would mislead",
         "name;location;a,b,c\nx;y;1,2,3\n", {"--delimiter", ";"}, {{"x", "y"}}},
        {"semicolons on the header line, commas in the data",
         "name;location\nHry, star\xC3\xA9, nov\xC3\xA9;P1\n", {}, {{cp("Hry, staré, nové"), "P1"}}},
        {"as many commas as semicolons: the comma", "name,location,x;y;z\na,b,c;d;e\n", {}, {{"a", "b"}}},
        {"Windows-1250 in capitals, a pair of them UTF-8 by chance",
         "name,location\n" + cp("ÚŽASNÉ") + "," + cp("ČŽ") + "\n", {}, {{cp("ÚŽASNÉ"), cp("ČŽ")}}},
        {"Windows-1250 past the first 256 KiB", "name,location\nStr\xE8ny,X\n" + plain + "\x8A,c\n", {},
         withPlain({{"Str\xE8ny", "X"}}, {{"\x8A", "c"}})},
        {"Windows-1250 only past the first 256 KiB", "name,location\n" + plain + "\x8A,c\n", {},
         withPlain({}, {{"\x8A", "c"}})},
        {"a mixed file read as Windows-1250 when told", "name,location\nStr\xE8ny,X\n\xC5\xA0,Y\n",
         {"--encoding", "windows-1250"}, {{"Str\xE8ny", "X"}, {"\xC5\xA0", "Y"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(catalogue());
        writeBytes(dir.file("in.csv"), c.content);
        std::vector<std::string> args{"import", "in.csv"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result r = run(args);
        EXPECT_EQ(r.code, 0) << r.err;
        std::string expected;
        for (const auto& [name, location] : c.imported)
            expected += record(name) + record(location);
        EXPECT_EQ(readBytes(catalogue()), expected);
    }

    // What goes back to the spreadsheet: semicolons, a byte order mark, CRLF,
    // a field quoted where it holds a separator a spreadsheet may split at
    // (the comma too) or a bare CR; and it comes in again unchanged.
    makeCatalogue({{"Hry, staré", "Polica; 2"}, {"Šachy", "a\rb"}, {"x\ty", "z"}});
    const std::string before = readBytes(catalogue());
    Result r = run({"export", "--spreadsheet", "-o", "out.csv"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readBytes(dir.file("out.csv")),
              "\xEF\xBB\xBFname;location\r\n\"Hry, star\xC3\xA9\";\"Polica; 2\"\r\n\xC5\xA0" "achy;\"a\rb\"\r\n\"x\ty\";z\r\n");
    std::filesystem::remove(catalogue());
    r = run({"import", "out.csv"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readBytes(catalogue()), before);
}

// A text a spreadsheet would take for a formula goes into the spreadsheet's
// CSV as text, behind an apostrophe, and comes back without it; the plain
// CSV is data for programs and keeps every text as it is. Both come back
// byte for byte, a name that truly starts with an apostrophe included.
TEST_F(Cli, ASpreadsheetExportHoldsNoFormulaAndBothExportsComeBackExact) {
    struct Case {
        std::string name, location;
        std::string cells;   // the row of the spreadsheet export
    };
    const Case cases[] = {
        {"=1+1", "=10*10", "'=1+1;'=10*10"},
        {"=HYPERLINK(\"http://x\";\"klik\")", "CD 1", "\"'=HYPERLINK(\"\"http://x\"\";\"\"klik\"\")\";CD 1"},
        {"+421 905", "-5", "'+421 905;'-5"},
        {"@SUM(A1)", "\tx", "'@SUM(A1);\"'\tx\""},
        {"\rcr", "a-b", "\"'\rcr\";a-b"},
        {"'90s.zip", "'=x", "'90s.zip;''=x"},
        {"''+y", "Šachy", "'''+y;\xC5\xA0" "achy"},
    };
    std::vector<std::pair<std::string, std::string>> records;
    std::string rows;
    for (const Case& c : cases) {
        records.emplace_back(c.name, c.location);
        rows += c.cells + "\r\n";
    }
    makeCatalogue(records);
    const std::string before = readBytes(catalogue());
    Result r = run({"export", "--spreadsheet", "-o", "sheet.csv"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readBytes(dir.file("sheet.csv")), "\xEF\xBB\xBFname;location\r\n" + rows);
    r = run({"export", "-o", "plain.csv"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(readBytes(dir.file("plain.csv")).find("\r\n=1+1,=10*10\r\n"), std::string::npos);
    for (const char* file : {"sheet.csv", "plain.csv"}) {
        SCOPED_TRACE(file);
        std::filesystem::remove(catalogue());
        r = run({"import", file});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(readBytes(catalogue()) == before) << "the imported catalogue differs";
    }
    // As a spreadsheet saves it again: no byte order mark, Windows-1250.
    writeBytes(dir.file("saved.csv"), "name;location\r\n'=1+1;'-5\r\n''=x;'90s\r\n");
    std::filesystem::remove(catalogue());
    r = run({"import", "saved.csv"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readBytes(catalogue()), record("=1+1") + record("-5") + record("'=x") + record("'90s"));
}

// A folder catalogued in one go: every file whose name can be stored,
// each other one named with its path and left out whole, never cut short.
TEST_F(Cli, ScanAddsEachFileAndLeavesOutWhatItCannotStoreWhole) {
    makeCatalogue({{"Chata.zip", "CD 1"}});
    const std::string before = readBytes(catalogue());
    const std::string longest(27, 'n'), tooLong(28, 'l');   // with ".zip", 31 and 32 characters
    std::filesystem::create_directories(dir.file("disc/sub"));
    for (const char* name : {"Šachy.zip", "a.RAR", "readme.txt", "chata.zip", "Ωmega.zip", "sub/deep.zip",
                                   "sub/ŠACHY.zip", "esc\x1b]0;x\x07.zip"})
        writeBytes(dir.file(std::string("disc/") + name), "");
    writeBytes(dir.file("disc/" + longest + ".zip"), "");
    writeBytes(dir.file("disc/" + tooLong + ".zip"), "");

    // Where the test's own filesystem has no label (removable_media.sh tries
    // labelled ones), the scan asks for a location.
    Result r = run({"scan", "disc", "--dry-run"});
    if (r.code != 0) {
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("give --location"), std::string::npos) << r.err;
    }
    r = run({"scan", "disc", "--location", "CD 12", "-r", "--extensions", "zip,rar", "--dry-run"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Would add 4 records"), std::string::npos) << r.out;
    EXPECT_EQ(readBytes(catalogue()), before);

    r = run({"scan", "disc", "--location", "CD 12", "-r", "--extensions", "zip,rar"});
    EXPECT_EQ(r.code, 0) << r.err;
    // A folder's files before its folders', each in the order of its bytes.
    EXPECT_EQ(readBytes(catalogue()), before + record("a.RAR") + record("CD 12") + record(longest + ".zip") +
                                          record("CD 12") + record(cp("Šachy.zip")) + record("CD 12") +
                                          record("deep.zip") + record("CD 12"));
    for (const std::string& expected :
         {"disc/" + tooLong + ".zip: the name is 32 characters long (at most 31); left out",
          std::string("disc/chata.zip: the name is already listed (as \"Chata.zip\")"),
          std::string("disc/Ωmega.zip: the name holds \"Ω\""),
          std::string("disc/sub/ŠACHY.zip: the name is twice in the folder (first at disc/Šachy.zip)"),
          std::string("disc/esc\\x1b]0;x\\x07.zip: the name holds a control character (U+001B)")})
        EXPECT_NE(r.err.find(expected), std::string::npos) << expected << " in\n" << r.err;
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);   // never sent to the terminal

    // The names of `find` or `ls`, one a line: a path's last part is the name.
    const std::string scanned = readBytes(catalogue());
    r = run({"import", "--lines", "--location", "CD 3", "--skip-invalid", "-"}, "./x/Hry.zip\n\nchata.zip\r\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("standard input:3: the name is already listed"), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(catalogue()), scanned + record("Hry.zip") + record("CD 3"));
}

// What a scan cannot look at is named with why and left out, the rest is
// added, and the exit status says the scan is not whole. A folder that
// goes away while the scan runs is one of them, not the end of the scan.
TEST_F(Cli, ScanNamesEachPathItLeavesOutAndWhy) {
    if (::geteuid() == 0) {
        // Root reads any folder: the program runs as nobody instead.
        if (std::system("setpriv --reuid=65534 --regid=65534 --clear-groups true") != 0)
            GTEST_SKIP() << "setpriv cannot drop root here";
        as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    }
    std::filesystem::create_directories(dir.file("shelf/sub"));
    std::filesystem::create_directories(dir.file("shelf/locked"));
    for (const char* name : {"a.zip", "sub/b.zip", "locked/c.zip", "notes.txt"})
        writeBytes(dir.file(std::string("shelf/") + name), "");
    ASSERT_EQ(::chmod(dir.file("shelf/locked").c_str(), 0), 0);
    ASSERT_EQ(::symlink("nowhere.zip", dir.file("shelf/dangling.zip").c_str()), 0);
    ASSERT_EQ(::symlink("loop.zip", dir.file("shelf/loop.zip").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", dir.file("shelf/dangling.txt").c_str()), 0);   // not asked for
    ASSERT_EQ(::symlink("sub", dir.file("shelf/linked").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.file("shelf/pipe.zip").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("x", dir.file("shelf/esc\x1b]0;t\x07.zip").c_str()), 0);

    struct Case {
        const char* what;
        std::string prefix;   // before the program: the fault it meets
        std::vector<std::string> args;
        std::vector<std::string> reported;   // on standard error, each once
        std::string added;                   // the catalogue after
    };
    const std::string sub = record("b.zip") + record("CD 9");
    const std::string both = record("a.zip") + record("CD 9") + sub;
    const std::vector<std::string> always{"shelf/dangling.zip: a link that leads nowhere; left out",
                                          "shelf/loop.zip: a link that leads round in a loop; left out",
                                          "shelf/pipe.zip: a FIFO, not a file; left out",
                                          "shelf/esc\\x1b]0;t\\x07.zip: a link that leads nowhere; left out"};
    std::vector<std::string> recursive = always;
    recursive.push_back("shelf/locked: a folder that cannot be read (Permission denied); left out");
    recursive.push_back("shelf/linked: a link to a folder, which is not followed; left out");
    std::vector<std::string> vanished = recursive;
    vanished.push_back("shelf/sub: a folder that vanished during the scan; left out");
    const bool canTrace = std::system("strace -e quiet=all -o /dev/null true 2>/dev/null") == 0;
    std::vector<Case> cases{
        {"the folder alone", "", {"scan", "shelf", "--location", "CD 9", "--extensions", "zip"}, always,
         record("a.zip") + record("CD 9")},
        {"within its folders", "", {"scan", "shelf", "--location", "CD 9", "-r", "--extensions", "zip"}, recursive, both},
    };
    // The subfolder gone between its listing and its opening. (A leak check
    // cannot run under a tracer: in a sanitizer build it is left out there.)
    if (canTrace)
        cases.push_back({"a folder gone meanwhile",
                         "ASAN_OPTIONS=\"${ASAN_OPTIONS}:detect_leaks=0\" "
                         "strace -f -e quiet=all -o /dev/null -P shelf/sub -e trace=openat "
                         "-e inject=openat:error=ENOENT ",
                         {"scan", "shelf", "--location", "CD 9", "-r", "--extensions", "zip"}, vanished,
                         record("a.zip") + record("CD 9")});
    const std::string user = as;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(catalogue());
        for (const bool dry : {true, false}) {
            as = c.prefix + user;
            std::vector<std::string> args = c.args;
            if (dry)
                args.push_back("--dry-run");
            const Result r = run(args);
            EXPECT_EQ(r.code, 1) << r.err;
            for (const std::string& line : c.reported)
                EXPECT_NE(r.err.find("vrindel-cli: " + line + "\n"), std::string::npos) << line << " in\n" << r.err;
            EXPECT_EQ(std::size_t(std::count(r.err.begin(), r.err.end(), '\n')), c.reported.size()) << r.err;
            EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
            EXPECT_EQ(std::filesystem::exists(catalogue()), !dry);
        }
        EXPECT_EQ(readBytes(catalogue()), c.added);
    }
    as = user;
    ASSERT_EQ(::chmod(dir.file("shelf/locked").c_str(), 0755), 0);
}

// Endless input ends with an error on its line, soon and in little memory:
// each reader gives up at its bound rather than reading on for ever.
TEST_F(Cli, EndlessInputEndsWithAnErrorAndItsLine) {
    struct Case {
        const char* format;
        const char* expected;
    };
    for (const Case& c : {Case{"csv", "/dev/zero:1: a row runs on for more than 65536 bytes"},
                          Case{"tsv", "/dev/zero:1: a row runs on for more than 65536 bytes"},
                          Case{"json", "/dev/zero:1: not valid JSON"}}) {
        SCOPED_TRACE(c.format);
        const Result r = run({"import", "/dev/zero", "--format", c.format, "--skip-invalid"});
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(catalogue()));
    }
}

// A quote typed by mistake swallows no row: the lines after the quote's own
// are read again, and every row is imported or named.
TEST_F(Cli, AStrayQuoteSwallowsNoLaterRow) {
    struct Case {
        const char* what;
        std::string content;
        std::vector<std::string> reported;   // on standard error, in this order
        std::vector<std::pair<std::string, std::string>> imported;
    };
    const Case cases[] = {
        {"never closed", "name,location\nA,1\nB,2\n\"C,3\nD,4\nE,5\nF,6\n",
         {"in.csv:4: a quoted field is not closed"},
         {{"A", "1"}, {"B", "2"}, {"D", "4"}, {"E", "5"}, {"F", "6"}}},
        {"closed by another stray quote", "name,location\nA,1\n\"B,2\nC,3\nD\"x,4\nE,5\n",
         {"in.csv:3: text after a field's closing quote", "in.csv:5: a quote inside a field that is not quoted"},
         {{"A", "1"}, {"C", "3"}, {"E", "5"}}},
        {"not closed within its bound", "name,location\n\"A,1\n" + std::string(5000, 'x') + "\nB,2\n",
         {"in.csv:2: a quoted field is not closed within 4096 bytes", "in.csv:3: a field longer than 4096 bytes"},
         {{"B", "2"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(catalogue());
        writeBytes(dir.file("in.csv"), c.content);
        const Result r = run({"import", "in.csv", "--skip-invalid"});
        EXPECT_EQ(r.code, 0);
        std::size_t at = 0;
        for (const std::string& line : c.reported) {
            at = r.err.find(line, at);
            EXPECT_NE(at, std::string::npos) << line << " in\n" << r.err;
        }
        EXPECT_EQ(std::size_t(std::count(r.err.begin(), r.err.end(), '\n')), c.reported.size()) << r.err;
        std::string expected;
        for (const auto& [name, location] : c.imported)
            expected += record(name) + record(location);
        EXPECT_EQ(readBytes(catalogue()), expected);
    }
}

TEST_F(Cli, ChangesFollowTheWindowsRules) {
    makeCatalogue({{"Chata", "CD 1"}, {"Šachy", "CD 2"}});
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* message;   // on standard error, "" when none
        std::vector<std::pair<std::string, std::string>> after;
    };
    const Case cases[] = {
        {{"add", "chata", "x"}, 1, "\"chata\" is already listed (as \"Chata\")", {{"Chata", "CD 1"}, {"Šachy", "CD 2"}}},
        {{"add", "Čistiareň", ""}, 1, "the location is empty", {{"Chata", "CD 1"}, {"Šachy", "CD 2"}}},
        {{"add", "Dom", "Polica"}, 0, "", {{"Chata", "CD 1"}, {"Šachy", "CD 2"}, {"Dom", "Polica"}}},
        {{"rename", "dom", "Šachy"}, 1, "\"Šachy\" is already listed", {{"Chata", "CD 1"}, {"Šachy", "CD 2"}, {"Dom", "Polica"}}},
        {{"rename", "dom", "DOM"}, 0, "", {{"Chata", "CD 1"}, {"Šachy", "CD 2"}, {"DOM", "Polica"}}},
        {{"relocate", "šachy", "Skriňa"}, 0, "", {{"Chata", "CD 1"}, {"Šachy", "Skriňa"}, {"DOM", "Polica"}}},
        {{"relocate", "Sachy", "x"}, 1, "no record named \"Sachy\"", {{"Chata", "CD 1"}, {"Šachy", "Skriňa"}, {"DOM", "Polica"}}},
        {{"delete", "CHATA"}, 0, "", {{"Šachy", "Skriňa"}, {"DOM", "Polica"}}},
        {{"add", "a\tb", "x"}, 1, "the name holds a control character (U+0009)", {{"Šachy", "Skriňa"}, {"DOM", "Polica"}}},
        {{"relocate", "dom", "x\x1b]0;y\x07"}, 1, "the location holds a control character (U+001B)", {{"Šachy", "Skriňa"}, {"DOM", "Polica"}}},
        {{"rename", "dom", std::string(32, 'D')}, 1, "the new name is 32 characters long (at most 31)", {{"Šachy", "Skriňa"}, {"DOM", "Polica"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code);
        if (*c.message)
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err, "");
        std::string expected;
        for (const auto& [name, location] : c.after)
            expected += record(cp(name)) + record(cp(location));
        EXPECT_EQ(readBytes(catalogue()), expected);
    }
}

// A killed save's side files that a sync engine carried here from another
// computer: named by check, never removed nor applied.
TEST_F(Cli, CheckNamesWhatAnotherComputersSavesLeft) {
    makeCatalogue({{"Chata", "CD 1"}});
    const std::string other = machineTag() == "0badf00d" ? "1badf00d" : "0badf00d";
    const std::string temporary = ".Zoznam.dat.tmp-" + other + "00000000-123-4";
    const std::string journal = "Zoznam.dat." + other + ".1-2.journal";
    for (const std::string& name : {temporary, journal})
        writeBytes(dir.file(name), "x");
    const std::string before = readBytes(catalogue());
    for (const char* command : {"add", "check"}) {
        SCOPED_TRACE(command);
        const Result r = std::string(command) == "add" ? run({"add", "Dom", "a"}) : run({"check"});
        if (std::string(command) == "check") {
            EXPECT_EQ(r.code, 1);
            for (const std::string& name : {temporary, journal})
                EXPECT_NE(r.out.find(name + ": left by a save on another computer; it is never used here"),
                          std::string::npos)
                    << r.out;
            EXPECT_NE(r.out.find("Zoznam.dat: 2 problems"), std::string::npos) << r.out;
        }
        EXPECT_TRUE(std::filesystem::exists(dir.file(temporary)));
        EXPECT_TRUE(std::filesystem::exists(dir.file(journal)));
    }
    EXPECT_TRUE(readBytes(catalogue()) == before + record("Dom") + record("a"));
}

// Root's save of a user's catalogue (a hard link of it) killed half-way
// leaves a journal only root may read: the user's changes are refused until
// it is resolved, naming it and who can; reading goes on but says the
// catalogue may be half-saved, and check lists it. Nothing is removed.
TEST_F(Cli, AJournalTheUserCannotApplyKeepsTheCatalogueFromBeingChanged) {
    if (::geteuid() != 0 || std::system("setpriv --reuid=65534 --regid=65534 --clear-groups true") != 0)
        GTEST_SKIP() << "needs root, and setpriv to become another user";
    makeCatalogue({{"Chata", "CD 1"}, {"Dom", "CD 2"}});
    ASSERT_EQ(::chown(catalogue().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    struct stat st {};
    ASSERT_EQ(::stat(catalogue().c_str(), &st), 0);
    const std::string journal = "Zoznam.dat." + machineTag() + "." + std::to_string(std::uint64_t(st.st_dev)) + "-" +
                                std::to_string(std::uint64_t(st.st_ino)) + ".journal";
    writeBytes(dir.file(journal), "VRJRNL2\n and the rest of root's journal");
    ASSERT_EQ(::chmod(dir.file(journal).c_str(), 0600), 0);
    const std::string before = readBytes(catalogue());
    as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";

    Result r = run({"add", "Nový", "CD 3"});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("its journal " + dir.file(journal)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("half-saved until root opens it; nothing was changed"), std::string::npos) << r.err;
    r = run({"list"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Chata"), std::string::npos);
    EXPECT_NE(r.err.find("the catalogue may be half-saved"), std::string::npos) << r.err;
    r = run({"check"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("the catalogue may be half-saved"), std::string::npos) << r.out;
    EXPECT_EQ(readBytes(catalogue()), before);
    EXPECT_TRUE(std::filesystem::exists(dir.file(journal)));
}

// A save in place (a second hard link) by a user who may write neither the
// catalogue's folder nor his home: the message says the journal could not be
// written, and where, not that the file may not be written.
TEST_F(Cli, NoPlaceForAJournalIsToldAsSuch) {
    if (::geteuid() != 0 || std::system("setpriv --reuid=65534 --regid=65534 --clear-groups true") != 0)
        GTEST_SKIP() << "needs root, and setpriv to become another user";
    makeCatalogue({{"Chata", "CD 1"}});
    writeBytes(dir.file("Options.dat"), std::string("\x01\x01\x01", 3));
    ASSERT_EQ(::link(catalogue().c_str(), dir.file("other.dat").c_str()), 0);
    ASSERT_EQ(::chown(catalogue().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    as = "env -u XDG_STATE_HOME HOME=/root setpriv --reuid=65534 --regid=65534 --clear-groups ";
    const Result r = run({"add", "Dom", "CD 2"});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("cannot save: The rollback journal could not be written: " + dir.path().string() +
                         "/ (Permission denied), /root/.local/state/vrindel (Permission denied); the file is as it was"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("File access denied"), std::string::npos) << r.err;
}

TEST_F(Cli, AChangeIsRefusedWhileAWindowHoldsTheCatalogueAndReadingStillWorks) {
    makeCatalogue({{"Chata", "CD 1"}});
    const std::string before = readBytes(catalogue());
    writeBytes(dir.file("new.csv"), "name,location\nDom,a\n");
    writeBytes(dir.file("copy.dat"), record("Dom") + record("a"));
    {
        CatalogueStore window(dir.path().string());
        ASSERT_EQ(window.open().lock, LockState::Held);
        for (const std::vector<std::string>& change :
             {std::vector<std::string>{"add", "Dom", "a"}, {"rename", "Chata", "Dom"}, {"relocate", "Chata", "x"},
              {"delete", "Chata"}, {"import", "new.csv"}, {"merge", "--remove", "copy.dat"}}) {
            SCOPED_TRACE(change[0]);
            const Result r = run(change);
            EXPECT_EQ(r.code, 4);
            EXPECT_NE(r.err.find("Zoznam.dat: the catalogue is open in a Vrindel window or in another command"),
                      std::string::npos) << r.err;
            EXPECT_EQ(readBytes(catalogue()), before);
        }
        for (const std::vector<std::string>& look :
             {std::vector<std::string>{"list"}, {"find", "cha"}, {"export"}, {"check"}, {"import", "new.csv", "--dry-run"},
              {"merge", "copy.dat", "--dry-run"}}) {
            SCOPED_TRACE(look[0]);
            EXPECT_EQ(run(look).code, 0);
        }
        EXPECT_TRUE(std::filesystem::exists(dir.file("copy.dat")));
    }
    EXPECT_EQ(run({"add", "Dom", "a"}).code, 0);
}

// A catalogue the user may only read (a read-only mount or disc alike) is
// listed, searched, exported and checked; a change is refused and says why.
TEST_F(Cli, AReadOnlyCatalogueCanBeLookedAtButNotChanged) {
    makeCatalogue({{"Chata", "CD 1"}, {"Šachy", "CD 2"}});
    const std::string before = readBytes(catalogue());
    ASSERT_EQ(::chmod(catalogue().c_str(), 0444), 0);
    if (::geteuid() == 0) {
        // Root may write any file: the program runs as nobody instead.
        if (std::system("setpriv --reuid=65534 --regid=65534 --clear-groups true") != 0)
            GTEST_SKIP() << "setpriv cannot drop root here";
        as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    }
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* expected;   // in standard output, or error when the code is not 0
    };
    const Case cases[] = {
        {{"list"}, 0, "Šachy"},
        {{"find", "sach"}, 0, "Šachy"},
        {{"export"}, 0, "Chata,CD 1"},
        {{"check"}, 0, "no problems found"},
        {{"add", "Dom", "Polica"}, 3, "Zoznam.dat: read-only: a change needs write access to the catalogue"},
        {{"delete", "Chata"}, 3, "Zoznam.dat: read-only: a change needs write access to the catalogue"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE((c.code == 0 ? r.out : r.err).find(c.expected), std::string::npos) << r.out << r.err;
    }
    EXPECT_EQ(readBytes(catalogue()), before);
}

// An export to a file replaces it whole (its mode kept, a link the user
// made still leading to it), writes through nothing but a regular file,
// and never lands in the catalogue, whatever name it has there.
TEST_F(Cli, AnExportReplacesItsFileWholeAndNeverWritesIntoTheCatalogue) {
    makeCatalogue({{"Chata", "CD 1"}});
    const std::string before = readBytes(catalogue());
    const std::string exported = "name,location\r\nChata,CD 1\r\n";
    writeBytes(dir.file("backup.csv"), "an older backup, longer than the new one\n");
    ASSERT_EQ(::chmod(dir.file("backup.csv").c_str(), 0640), 0);
    writeBytes(dir.file("linked.csv"), "old\n");
    ASSERT_EQ(::symlink("linked.csv", dir.file("link.csv").c_str()), 0);
    ASSERT_EQ(::link(catalogue().c_str(), dir.file("other-name.dat").c_str()), 0);

    Result r = run({"export", "-o", "backup.csv"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readBytes(dir.file("backup.csv")), exported);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("backup.csv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    r = run({"export", "-o", "link.csv"});
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(::lstat(dir.file("link.csv").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readBytes(dir.file("linked.csv")), exported);

    struct Case {
        std::vector<std::string> args;
        const char* output;
        int code;
        const char* expected;
    };
    const Case refused[] = {
        {{"export"}, ">>Zoznam.dat", 2, "standard output is the catalogue itself; nothing was written"},
        {{"export", "--format", "json"}, ">>other-name.dat", 2, "standard output is the catalogue itself"},
        {{"list"}, ">>other-name.dat", 2, "standard output is the catalogue itself"},
        {{"export", "-o", "other-name.dat"}, ">.out", 2, "that is the catalogue itself"},
        {{"export", "-o", "/dev/null"}, ">.out", 3, "/dev/null: not a regular file"},
        // The switches file, there or not yet, by whatever path.
        {{"export", "-o", "Options.dat"}, ">.out", 2, "that is the switches file (Options.dat); nothing was written"},
        {{"export", "-o", dir.file("Options.dat")}, ">.out", 2, "that is the switches file"},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.args[0] + " " + c.output);
        r = run(c.args, "", c.output);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
    }
    EXPECT_EQ(readBytes(catalogue()), before);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{".err", ".in", ".out", "Zoznam.dat", "backup.csv", "link.csv",
                                                      "linked.csv", "other-name.dat"}));
}

// Another user's link planted in a shared folder is not followed: every
// command says the file cannot be opened, and what it points to is untouched.
TEST_F(Cli, ALinkPlantedInASharedFolderIsRefusedByEveryCommand) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "another user's link needs root to set up";
    writeBytes(dir.file("secret.conf"), "secret\n");
    ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
    ASSERT_EQ(::symlink("secret.conf", catalogue().c_str()), 0);
    ASSERT_EQ(::lchown(catalogue().c_str(), 1234, 1234), 0);
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"add", "Dom", "a"}, {"delete", "Dom"}, {"list"}, {"check"}}) {
        SCOPED_TRACE(command[0]);
        const Result r = run(command);
        EXPECT_EQ(r.code, 3);
        EXPECT_NE(r.err.find("Zoznam.dat: cannot read: File access denied"), std::string::npos) << r.err;
    }
    EXPECT_EQ(readBytes(dir.file("secret.conf")), "secret\n");
}

TEST_F(Cli, CheckReportsWhatTheWindowWouldStumbleOn) {
    struct Case {
        const char* what;
        std::string bytes;
        const char* expected;   // "" when clean
    };
    std::string longLength = record("Chata") + record("CD 1");
    longLength[32] = char(40);
    const Case cases[] = {
        {"clean", record("Chata") + record("CD 1"), ""},
        {"odd", record("Chata") + record("CD 1") + record("Dom"), "the last name (record 2) has no location"},
        {"tail", record("Chata") + record("CD 1") + "abcdef", "the last 6 bytes are less than a whole record"},
        {"length", longLength, "record 1: the location's length byte is 40, above 31"},
        {"twice", record("Chata") + record("a") + record("CHATA") + record("b"), "record 2: the name \"CHATA\" is listed twice (first as record 1"},
        {"control", record("Ch\x01" "ata") + record("a"), "record 1: the name holds a control character (U+0001)"},
        {"undefined", record("a") + record("\x81"), "record 1: the location holds a control character (U+0081)"},
        {"escape twice", record("a\x1b]0;t\x07") + record("a") + record("A\x1b]0;t\x07") + record("b"),
         "record 2: the name \"A\\x1b]0;t\\x07\" is listed twice (first as record 1, \"a\\x1b]0;t\\x07\")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(catalogue(), c.bytes);
        const Result r = run({"check"});
        EXPECT_EQ(r.code, *c.expected ? 1 : 0) << r.out;
        EXPECT_NE(r.out.find(*c.expected ? c.expected : "no problems found"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find('\x1b'), std::string::npos);   // a record cannot retitle the terminal
    }
}

// A copy a sync engine left: check counts what it holds that the catalogue
// lacks; merge adds that, sends another location of a listed name to the
// conflict file, keeps what the copy lacks, and the second time changes
// nothing; --dry-run only says; --remove takes the copy away after the save.
TEST_F(Cli, MergeTakesBackWhatACopyHoldsAndCheckFindsTheCopies) {
    makeCatalogue({{"Chata", "CD 1"}, {"Šachy", "CD 2"}, {"Auto", "Garáž"}});
    const std::string copy = "Zoznam.sync-conflict-20261207-153000-ABCDEFG.dat";
    writeBytes(dir.file(copy), record("Chata") + record("CD 1") + record(cp("Šachy")) + record(cp("Skriňa")) +
                                   record("Dom") + record("Polica"));
    const std::string before = readBytes(catalogue());
    const std::string merged = before + record("Dom") + record("Polica");
    auto conflictFiles = [&] {
        std::vector<std::string> names;
        for (const std::string& name : dir.entries())
            if (name.starts_with("Zoznam.dat-conflicts-"))
                names.push_back(name);
        return names;
    };
    struct Case {
        std::vector<std::string> args;
        int code;
        std::vector<std::string> expected;   // in standard output, in order
        const std::string& after;            // the catalogue
        std::size_t conflictFiles;
        bool copyStays;
    };
    const Case cases[] = {
        {{"check"}, 1,
         {copy + ": a copy Syncthing left; it holds 1 record the catalogue lacks (vrindel-cli merge adds it)",
          "Zoznam.dat: 1 problem"}, before, 0, true},
        {{"merge", "--dry-run", "--remove", copy}, 1,
         {"would add \"Dom\" at \"Polica\"",
          "\"Šachy\" stays at \"CD 2\"; the other location, \"Skriňa\", would go to a conflict file",
          copy + ": would be removed", "Would merge 1 record into Zoznam.dat."}, before, 0, true},
        {{"merge", copy}, 1,
         {"added \"Dom\" at \"Polica\"", "\"Šachy\" stays at \"CD 2\"; the other location, \"Skriňa\", is in /",
          "Merged 1 record into Zoznam.dat."}, merged, 1, true},
        {{"merge", copy}, 1,
         {"\"Šachy\" stays at \"CD 2\"; the other location, \"Skriňa\", is in a conflict file already",
          "Merged 0 records into Zoznam.dat."}, merged, 1, true},
        {{"check"}, 0, {copy + ": a copy Syncthing left; the catalogue lists every name it holds",
                        "Zoznam.dat: no problems found"}, merged, 1, true},
        {{"merge", "--remove", copy}, 1, {copy + ": removed", "Merged 0 records into Zoznam.dat."}, merged, 1, false},
        {{"merge", "Zoznam.dat"}, 2, {}, merged, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        std::size_t at = 0;
        for (const std::string& line : c.expected) {
            at = r.out.find(line, at);
            EXPECT_NE(at, std::string::npos) << line << " in\n" << r.out;
        }
        EXPECT_TRUE(readBytes(catalogue()) == c.after);
        EXPECT_EQ(conflictFiles().size(), c.conflictFiles);
        EXPECT_EQ(std::filesystem::exists(dir.file(copy)), c.copyStays);
    }
    EXPECT_EQ(readBytes(dir.file(conflictFiles().front())), "name,location\r\nŠachy,Skriňa\r\n");
    EXPECT_NE(run({"merge", "Zoznam.dat"}).err.find("Zoznam.dat: that is the catalogue itself; nothing was changed"),
              std::string::npos);
}

// In a folder a sync engine carries, a catalogue this computer received and
// changed is the common version of a later copy: check counts what the copy
// deleted or moved, and merge takes exactly that.
TEST_F(Cli, ACopyWithACommonVersionBringsItsDeletesAndMoves) {
    std::filesystem::create_directory(dir.file(".stfolder"));
    const test::StateHomeAt state(dir.file("state"));
    makeCatalogue({{"Chata", "CD 1"}, {"Šachy", "CD 2"}, {"Auto", "Garáž"}});
    ASSERT_EQ(run({"add", "Dom", "Polica"}).code, 0);
    const std::string copy = "Zoznam.sync-conflict-20261207-153000-ABCDEFG.dat";
    writeBytes(dir.file(copy), record("Chata") + record("CD 1") + record(cp("Šachy")) + record("CD 9"));

    Result r = run({"check"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find(copy + ": a copy Syncthing left; it deleted or moved 2 records of the catalogue"),
              std::string::npos) << r.out;
    r = run({"merge", "--dry-run", copy});
    EXPECT_NE(r.out.find("would delete \"Auto\" at \"Garáž\": the copy deleted it"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("would move \"Šachy\" from \"CD 2\" to \"CD 9\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Would take 2 changes the copies made (records deleted or moved)."), std::string::npos)
        << r.out;
    r = run({"merge", "--remove", copy});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Took 2 changes the copies made (records deleted or moved)."), std::string::npos) << r.out;
    EXPECT_TRUE(readBytes(catalogue()) == record("Chata") + record("CD 1") + record(cp("Šachy")) + record("CD 9") +
                                             record("Dom") + record("Polica"));
    EXPECT_FALSE(std::filesystem::exists(dir.file(copy)));
}

// The catalogue the desktop menu's window works on, from any folder: named
// by --menu, by VRINDEL_DIR as a default, and in the message of a folder
// without one. Only a command that makes a catalogue makes its folder.
TEST_F(Cli, TheMenusCatalogueIsReachedFromTheShell) {
    const std::string home = dir.file("home");
    std::filesystem::create_directories(dir.file("work"));
    std::filesystem::create_directories(home);
    as = "HOME=" + quoted(home) + " XDG_DATA_HOME= VRINDEL_DIR= ";
    const std::string menu = home + "/.local/share/vrindel";

    Result r = run({"--menu", "list"});
    EXPECT_EQ(r.code, 3);
    EXPECT_FALSE(std::filesystem::exists(menu)) << "a look made the menu's folder";
    r = run({"-C", "work", "list"});
    EXPECT_EQ(r.err, "vrindel-cli: work/Zoznam.dat: no catalogue in this folder\n");
    r = run({"--menu", "add", "Chata", "CD 1"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readBytes(menu + "/Zoznam.dat"), record("Chata") + record("CD 1"));

    r = run({"-C", "work", "list"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "vrindel-cli: work/Zoznam.dat: no catalogue in this folder; the desktop menu's catalogue is " +
                         menu + "/Zoznam.dat (vrindel-cli --menu works on it)\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("work/Zoznam.dat")));
    EXPECT_EQ(run({"--menu", "list", "--format", "csv"}).out, "name,location\r\nChata,CD 1\r\n");

    // VRINDEL_DIR is the default of both programs; -C and --menu win over it.
    makeCatalogue({{"Dom", "Polica"}});
    as = "HOME=" + quoted(home) + " XDG_DATA_HOME= VRINDEL_DIR=" + quoted(menu) + " ";
    EXPECT_EQ(run({"find", "chata", "--format", "csv"}).out, "name,location\r\nChata,CD 1\r\n");
    EXPECT_EQ(run({"-C", ".", "list", "--format", "csv"}).out, "name,location\r\nDom,Polica\r\n");
    as = "HOME=" + quoted(home) + " XDG_DATA_HOME= VRINDEL_DIR=" + quoted(dir.file("work")) + " ";
    EXPECT_EQ(run({"--menu", "list", "--format", "csv"}).out, "name,location\r\nChata,CD 1\r\n");
    EXPECT_EQ(run({"list"}).code, 3);

    // What export writes to a pipe, import reads from one, and check tells
    // scripts in JSON.
    as = "HOME=" + quoted(home) + " XDG_DATA_HOME= VRINDEL_DIR= ";
    const Result exported = run({"--menu", "export"});
    r = run({"-C", "work", "import", "-"}, exported.out);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readBytes(dir.file("work/Zoznam.dat")), record("Chata") + record("CD 1"));
    r = run({"-q", "-C", "work", "import", "--update", "-"}, exported.out);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    makeCatalogue({{"Dom", "Polica"}, {"DOM", "CD 2"}});
    r = run({"check", "--format", "json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("\"records\": 2,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"problems\": 1,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("the name \\\"DOM\\\" is listed twice"), std::string::npos) << r.out;
}

TEST_F(Cli, WrongUsageExitsWithTwoAndSaysWhy) {
    makeCatalogue({{"Chata", "CD 1"}});
    writeBytes(dir.file("records.txt"), "name,location\n");
    std::filesystem::create_directory(dir.file("sub"));
    writeBytes(dir.file("sub/Zoznam.dat"), "");
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* expected;   // in standard output and error together
    };
    const Case cases[] = {
        {{}, 2, "A subcommand is required"},
        {{"frobnicate"}, 2, "vrindel-cli: \"frobnicate\" is not a command (vrindel-cli help lists them)"},
        {{"-C", ".", "lsit"}, 2, "\"lsit\" is not a command; did you mean \"list\"?"},
        {{"help", "imprt"}, 2, "did you mean \"import\"?"},
        {{"help", "import"}, 0, "Usage: vrindel-cli import"},
        {{"find", "--help"}, 0, "\"sa\" finds \"Šachy\""},
        {{"list", "--format", "3"}, 2, "vrindel-cli: --format: 3 not in {csv,json,text,tsv}"},
        {{"-C", "sub", "delete", "x\x1b]0;t\x07"}, 1, "sub/Zoznam.dat: no record named \"x\\x1b]0;t\\x07\""},
        {{"add", "Dom"}, 2, "LOCATION is required"},
        {{"list", "--format", "xml"}, 2, "vrindel-cli: --format: xml not in {csv,json,text,tsv}"},
        {{"list", "--bogus"}, 2, "--bogus"},
        {{"import", "records.txt"}, 2, "records.txt: cannot tell the format from the name; give --format"},
        {{"export", "-o", "Zoznam.dat"}, 2, "that is the catalogue itself"},
        {{"-C", "nowhere", "list"}, 3, "nowhere: cannot enter: No such file or directory"},
        {{"import", "absent.csv"}, 3, "absent.csv: cannot open: No such file or directory"},
        {{"--version"}, 0, "vrindel-cli 2.1"},
        {{"import", "--help"}, 0, "--skip-invalid"},
        // Each kind of mistake the parser finds, the words in the order typed.
        {{"list", "a", "b"}, 2, "The following arguments were not expected: a b"},
        {{"check", "--format", "json", "x", "y"}, 2, "The following arguments were not expected: x y"},
        {{"delete", "-weird"}, 2, "-weird is not an option of delete; a name that starts with - goes after --, as in: "
                                  "vrindel-cli delete -- -weird"},
        {{"list", "--format"}, 2, "--format needs a value"},
        {{"--menu", "-C", ".", "list"}, 2, "cannot go together"},
        {{"--bogus", "list"}, 2, "--bogus is not an option (vrindel-cli --help lists them)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args[0] + " " + c.args.back());
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE((r.out + r.err).find(c.expected), std::string::npos) << r.out << r.err;
        EXPECT_EQ(c.code == 0 ? r.err : r.out, "");
    }
    EXPECT_EQ(readBytes(catalogue()), record("Chata") + record("CD 1"));
}

TEST_F(Cli, MessagesAreInTheUsersLanguageAndDataIsNot) {
    // A real Slovak locale where one can be made; else the language alone,
    // which gettext also follows.
    const std::string locales = dir.file(".locales");
    std::filesystem::create_directory(locales);
    const bool made = std::system(("localedef -i sk_SK -f UTF-8 " + quoted(locales + "/sk_SK.UTF-8") +
                                   " >/dev/null 2>&1").c_str()) == 0;
    const std::string slovak =
        made ? "LOCPATH=" + quoted(locales) + " LC_ALL= LANGUAGE= LANG=sk_SK.UTF-8" : "LC_ALL=C.UTF-8 LANGUAGE=sk";
    makeCatalogue({{"Alfa", "CD 1"}, {"Šachy", "Skriňa"}});
    const std::string english = language;
    const Result csv = run({"list", "--format", "csv"});
    const Result json = run({"list", "--format", "json", "--sorted"});
    language = slovak;
    EXPECT_EQ(run({"list", "--format", "csv"}).out, csv.out);
    EXPECT_EQ(run({"list", "--format", "json", "--sorted"}).out, json.out);

    struct Case {
        std::vector<std::string> args;
        int code;
        const char* expected;   // in standard output and error together
    };
    const Case cases[] = {
        {{"add", "alfa", "x"}, 1, "vrindel-cli: „alfa“ už v zozname je (ako „Alfa“); nič sa nezmenilo"},
        {{"lsit"}, 2, "„lsit“ nie je príkaz; mysleli ste „list“?"},
        {{"help", "add"}, 0, "Použitie: vrindel-cli add [VOĽBY] NAME LOCATION"},
        {{"add", "Dom"}, 2, "LOCATION je povinný údaj"},
        // Each kind of the parser's mistakes, whatever the parser calls it.
        {{"list", "--bogus"}, 2, "--bogus nie je voľba príkazu list (vypíše ich vrindel-cli help list)"},
        {{"list", "--format"}, 2, "--format potrebuje hodnotu"},
        {{"list", "a", "b"}, 2, "Tieto argumenty sú navyše: a b"},
        {{"list", "--format", "xml"}, 2, "--format: xml nie je jedna z možností {csv,json,text,tsv}"},
        {{"--menu", "-C", ".", "list"}, 2, "--directory a --menu sa nedajú použiť spolu"},
        {{"-q"}, 2, "Chýba príkaz"},
        {{"-C", "three", "check", "--format", "jsn"}, 2, "--format: jsn nie je jedna z možností {text,json}"},
        {{"help", "scan"}, 0, "--location MENOVKA"},
        {{"-C", "sub", "delete", "x\x1b]0;t\x07"}, 1, "sub/Zoznam.dat: žiadny záznam s názvom „x\\x1b]0;t\\x07“"},
        // The three plural forms: 1, 2 to 4, 5 and more.
        {{"-C", "one", "check"}, 0, "one/Zoznam.dat: veľkosť 64 B, 1 záznam\n"},
        {{"-C", "three", "check"}, 0, "three/Zoznam.dat: veľkosť 192 B, 3 záznamy\n"},
        {{"-C", "four", "check"}, 0, "four/Zoznam.dat: veľkosť 256 B, 4 záznamy\n"},
        {{"-C", "five", "check"}, 0, "five/Zoznam.dat: veľkosť 320 B, 5 záznamov\n"},
        {{"-C", "copies", "check"}, 1,
         "copies/Zoznam_conflict-20261207-153000.dat: kópia, ktorú zanechal ownCloud; sú v nej 2 záznamy, ktoré v "
         "zozname nie sú (pridá ich vrindel-cli merge)"},
        {{"-C", "copies", "merge", "--dry-run", "Zoznam_conflict-20261207-153000.dat"}, 0,
         "Do copies/Zoznam.dat by sa zlúčili 2 záznamy."},
    };
    for (const auto& [folder, count] : {std::pair{"sub", 0}, {"one", 1}, {"three", 3}, {"four", 4}, {"five", 5}}) {
        std::filesystem::create_directory(dir.file(folder));
        std::string bytes;
        for (char k = '0'; k < '0' + count; ++k)
            bytes += record(std::string{'N', k}) + record("L");
        writeBytes(dir.file(std::string(folder) + "/Zoznam.dat"), bytes);
    }
    std::filesystem::create_directory(dir.file("copies"));
    writeBytes(dir.file("copies/Zoznam.dat"), "");
    writeBytes(dir.file("copies/Zoznam_conflict-20261207-153000.dat"), record("a") + record("1") + record("b") + record("2"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE((r.out + r.err).find(c.expected), std::string::npos) << r.out << r.err;
    }
    language = english;
    EXPECT_NE(run({"add", "alfa", "x"}).err.find("\"alfa\" is already listed (as \"Alfa\")"), std::string::npos);
}

}  // namespace
}  // namespace vrindel::test
