// The xlsx and ods readers: the archive through libzip, its XML through
// expat, a part at a time and a piece at a time, so that only the table of
// texts and the row being read are held.

#include <expat.h>
#include <zip.h>

#include <algorithm>
#include <charconv>
#include <exception>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ImportInput.h"
#include "Messages.h"
#include "Workbook.h"

namespace vrindel::cli::reading {

namespace {

// The rows a sheet may have, header included; an empty row further down
// (a spreadsheet repeats one to the sheet's end) is only counted.
constexpr std::size_t MaxSheetRows = MaxSheetRecords + 1;

// Ends the reading of a workbook with the problem of the whole file.
struct Refused {
    std::string problem;
};

std::string damaged(const std::string& what) { return tr("a damaged workbook: {0}", what); }

std::string_view localName(const char* name) {
    const std::string_view full(name);
    const std::size_t bar = full.rfind('|');
    return bar == std::string_view::npos ? full : full.substr(bar + 1);
}

// An attribute by its local name, and by a piece of its namespace where
// two namespaces use the same name.
const char* attribute(const char** attrs, std::string_view local, std::string_view space = {}) {
    for (; *attrs; attrs += 2) {
        const std::string_view full(attrs[0]);
        const std::size_t bar = full.rfind('|');
        const std::string_view name = bar == std::string_view::npos ? full : full.substr(bar + 1);
        if (name != local)
            continue;
        if (space.empty() || (bar != std::string_view::npos && full.substr(0, bar).find(space) != std::string_view::npos))
            return attrs[1];
    }
    return nullptr;
}

std::size_t number(const char* text, std::size_t otherwise) {
    if (!text)
        return otherwise;
    std::size_t value = 0;
    const std::string_view s(text);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size() ? value : otherwise;
}

// Text collected for a cell, no longer than a field may be and a byte more,
// so that a longer one is told as such.
void collect(std::string& into, std::string_view text) {
    if (into.size() <= MaxFieldBytes)
        into.append(text.substr(0, MaxFieldBytes + 1 - into.size()));
}

// What reads one XML part. A handler that has what it wants sets `done`;
// one that finds the part wrong sets `problem`.
class Part {
public:
    virtual ~Part() = default;
    virtual void start(std::string_view name, const char** attrs) = 0;
    virtual void end(std::string_view name) = 0;
    virtual void text(std::string_view) {}

    std::string name;      // the part's name in the archive
    std::string problem;
    bool done = false;
};

// The archive, opened from the file's bytes, and what its parts have
// unpacked to so far.
class Archive {
public:
    explicit Archive(std::string_view bytes) : bound_(maxUnpacked(bytes.size())) {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
        if (source) {
            zip_ = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
            if (!zip_)
                zip_source_free(source);
        }
        zip_error_fini(&error);
        if (!zip_)
            throw Refused{damaged(_("not a zip archive that can be read"))};
        if (std::size_t(std::max<zip_int64_t>(zip_get_num_entries(zip_, 0), 0)) > MaxWorkbookParts)
            throw Refused{tr("a workbook of more than {0} parts", MaxWorkbookParts)};
    }
    ~Archive() { zip_discard(zip_); }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    bool has(const std::string& part) const { return zip_name_locate(zip_, part.c_str(), 0) >= 0; }

    // A small part whole (the mimetype).
    std::string small(const std::string& part) {
        std::string text;
        each(part, [&](std::string_view piece) {
            collect(text, piece);
            return true;
        });
        return text;
    }

    // The part's XML through `handler`, to its end or until the handler
    // is done.
    void parse(const std::string& part, Part& handler);

private:
    template <typename Piece>
    void each(const std::string& part, Piece piece) {
        zip_file_t* file = zip_fopen(zip_, part.c_str(), 0);
        if (!file)
            throw Refused{damaged(has(part) ? tr("{0} cannot be unpacked", part) : tr("{0} is missing", part))};
        char buffer[1 << 16];
        bool ok = true;
        for (;;) {
            const zip_int64_t got = zip_fread(file, buffer, sizeof buffer);
            if (got < 0) {
                ok = false;
                break;
            }
            if (got == 0)
                break;
            unpacked_ += std::size_t(got);
            if (unpacked_ > bound_) {
                zip_fclose(file);
                throw Refused{tr("a workbook whose parts unpack to more than {0} MiB", bound_ >> 20)};
            }
            try {
                if (!piece(std::string_view(buffer, std::size_t(got))))
                    break;
            } catch (...) {
                zip_fclose(file);
                throw;
            }
        }
        if (zip_fclose(file) != 0)
            ok = false;
        if (!ok)
            throw Refused{damaged(tr("{0} cannot be unpacked", part))};
    }

    const std::size_t bound_;
    zip_t* zip_ = nullptr;
    std::size_t unpacked_ = 0;
};

// Expat's callbacks, which must not throw through it: what a handler
// throws is kept and thrown again once expat has returned.
struct Parsing {
    XML_Parser parser;
    Part& handler;
    int depth = 0;
    std::exception_ptr thrown;
    XML_Index lastEvent = 0;   // where the last thing expat reported starts

    void seen() { lastEvent = XML_GetCurrentByteIndex(parser); }

    void stop(std::string problem) {
        if (handler.problem.empty())
            handler.problem = std::move(problem);
        XML_StopParser(parser, XML_FALSE);
    }
    template <typename F>
    void guarded(F f) {
        if (thrown || !handler.problem.empty() || handler.done)
            return;
        try {
            f();
        } catch (...) {
            thrown = std::current_exception();
        }
        if (thrown || !handler.problem.empty() || handler.done)
            XML_StopParser(parser, XML_FALSE);
    }

    static void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attrs) {
        auto& p = *static_cast<Parsing*>(data);
        p.seen();
        if (++p.depth > MaxXmlDepth)
            return p.stop(damaged(tr("{0} nests deeper than {1} levels", p.handler.name, MaxXmlDepth)));
        p.guarded([&] { p.handler.start(localName(name), attrs); });
    }
    static void XMLCALL onEnd(void* data, const XML_Char* name) {
        auto& p = *static_cast<Parsing*>(data);
        p.seen();
        --p.depth;
        p.guarded([&] { p.handler.end(localName(name)); });
    }
    static void XMLCALL onText(void* data, const XML_Char* text, int length) {
        auto& p = *static_cast<Parsing*>(data);
        p.seen();
        p.guarded([&] { p.handler.text(std::string_view(text, std::size_t(length))); });
    }
    static void XMLCALL onOther(void* data, const XML_Char*, int) { static_cast<Parsing*>(data)->seen(); }
    // No spreadsheet writes one; entities declared in one are how XML is
    // made to grow without end.
    static void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        auto& p = *static_cast<Parsing*>(data);
        p.stop(damaged(tr("{0} declares a document type", p.handler.name)));
    }
};

void Archive::parse(const std::string& part, Part& handler) {
    handler.name = part;
    XML_Parser parser = XML_ParserCreateNS(nullptr, '|');
    if (!parser)
        throw std::bad_alloc();
    Parsing parsing{parser, handler, 0, nullptr};
    XML_SetUserData(parser, &parsing);
    XML_SetElementHandler(parser, Parsing::onStart, Parsing::onEnd);
    XML_SetCharacterDataHandler(parser, Parsing::onText);
    XML_SetStartDoctypeDeclHandler(parser, Parsing::onDoctype);
    XML_SetDefaultHandlerExpand(parser, Parsing::onOther);
    auto stopped = [&] { return parsing.thrown || !handler.problem.empty() || handler.done; };
    std::size_t badLine = 0, fed = 0;
    try {
        each(part, [&](std::string_view piece) {
            if (XML_Parse(parser, piece.data(), int(piece.size()), XML_FALSE) == XML_STATUS_ERROR) {
                if (!stopped())
                    badLine = std::size_t(XML_GetCurrentLineNumber(parser));
                return false;
            }
            // Expat reads a tag or a comment again from its start with each
            // piece until it ends: one without end would take hours.
            fed += piece.size();
            if (!stopped() && fed - std::size_t(std::max<XML_Index>(parsing.lastEvent, 0)) > MaxXmlTokenBytes)
                handler.problem = damaged(tr("{0} has a tag or comment longer than {1} MiB", part, MaxXmlTokenBytes >> 20));
            return !stopped();
        });
        if (!stopped() && badLine == 0 && XML_Parse(parser, nullptr, 0, XML_TRUE) == XML_STATUS_ERROR && !stopped())
            badLine = std::size_t(XML_GetCurrentLineNumber(parser));
    } catch (...) {
        XML_ParserFree(parser);
        throw;
    }
    XML_ParserFree(parser);
    if (parsing.thrown)
        std::rethrow_exception(parsing.thrown);
    if (!handler.problem.empty())
        throw Refused{handler.problem};
    if (badLine != 0)
        throw Refused{damaged(tr("{0} is not well-formed XML (line {1})", part, badLine))};
}

std::string outOfPlace(const std::string& part, std::size_t row) {
    return damaged(tr("{0} has a cell out of place (row {1})", part, row));
}

// --- xlsx -----------------------------------------------------------------------------------

// The first sheet's relationship, from the workbook's list of sheets.
struct FirstSheet : Part {
    std::string id;
    void start(std::string_view element, const char** attrs) override {
        if (element != "sheet")
            return;
        if (const char* rid = attribute(attrs, "id", "relationships"))
            id = rid;
        done = true;
    }
    void end(std::string_view) override {}
};

// Where the workbook's relationships lead: its sheets and its texts.
struct Relationships : Part {
    std::map<std::string, std::string> target;   // id -> part
    std::string sharedTexts;
    void start(std::string_view element, const char** attrs) override {
        if (element != "Relationship")
            return;
        const char* id = attribute(attrs, "Id");
        const char* to = attribute(attrs, "Target");
        const char* type = attribute(attrs, "Type");
        if (!id || !to || !type)
            return;
        std::string part = to[0] == '/' ? std::string(to + 1) : "xl/" + std::string(to);
        target[id] = part;
        if (std::string_view(type).ends_with("/sharedStrings"))
            sharedTexts = part;
    }
    void end(std::string_view) override {}
};

// A text of a cell: the <t> pieces of a run or of the whole, and never the
// phonetic guide a Japanese text may carry along.
struct TextPieces {
    std::string text;
    bool inT = false;
    int inGuide = 0;

    void start(std::string_view element) {
        if (element == "t" && inGuide == 0)
            inT = true;
        else if (element == "rPh")
            ++inGuide;
    }
    void end(std::string_view element) {
        if (element == "t")
            inT = false;
        else if (element == "rPh")
            --inGuide;
    }
    void add(std::string_view piece) {
        if (inT)
            collect(text, piece);
    }
};

struct SharedTexts : Part {
    std::vector<std::string> texts;
    TextPieces item;
    bool inItem = false;

    void start(std::string_view element, const char**) override {
        if (element == "si") {
            inItem = true;
            item = {};
        } else if (inItem) {
            item.start(element);
        }
    }
    void end(std::string_view element) override {
        if (element != "si") {
            item.end(element);
            return;
        }
        inItem = false;
        if (texts.size() == MaxSharedTexts) {
            problem = damaged(tr("{0} holds more than {1} texts", name, MaxSharedTexts));
            return;
        }
        texts.push_back(unescapedFromCell(item.text));
    }
    void text(std::string_view piece) override {
        if (inItem)
            item.add(piece);
    }
};

// The column of a cell reference ("B12" -> 1), or npos.
std::size_t columnOf(std::string_view reference) {
    std::size_t column = 0, letters = 0;
    for (const char c : reference) {
        if (c < 'A' || c > 'Z')
            break;
        column = column * 26 + std::size_t(c - 'A' + 1);
        if (++letters > 3)
            return std::string::npos;
    }
    return letters == 0 ? std::string::npos : column - 1;
}

struct XlsxSheet : Part {
    XlsxSheet(const std::vector<std::string>& shared, const std::string& sharedPart, CellTable& table)
        : shared(shared), sharedPart(sharedPart), table(table) {}

    const std::vector<std::string>& shared;
    const std::string& sharedPart;
    CellTable& table;

    bool inData = false, inRow = false, inCell = false, inValue = false, inInline = false;
    std::size_t row = 0;      // the row being read, from 1
    std::size_t column = 0;   // the next cell's column, from 0
    std::vector<std::string> cells;
    std::string type, value;
    TextPieces inlineText;

    void start(std::string_view element, const char** attrs) override {
        if (element == "sheetData") {
            inData = true;
        } else if (!inData) {
            return;
        } else if (element == "row") {
            const std::size_t r = number(attribute(attrs, "r"), row + 1);
            if (r <= row || r == 0)
                problem = outOfPlace(name, r);
            row = r;
            column = 0;
            cells.clear();
            inRow = true;
        } else if (element == "c" && inRow) {
            const char* reference = attribute(attrs, "r");
            const std::size_t c = reference ? columnOf(reference) : column;
            if (c == std::string::npos || c < column || c >= MaxSheetColumns)
                problem = outOfPlace(name, row);
            column = c;
            const char* t = attribute(attrs, "t");
            type = t ? t : "n";
            value.clear();
            inlineText = {};
            inCell = true;
        } else if (inCell && element == "v") {
            inValue = true;
        } else if (inCell && element == "is") {
            inInline = true;
        } else if (inInline) {
            inlineText.start(element);
        }
    }

    void end(std::string_view element) override {
        if (!inData)
            return;
        if (element == "sheetData") {
            done = true;
        } else if (element == "v") {
            inValue = false;
        } else if (element == "is") {
            inInline = false;
        } else if (inInline) {
            inlineText.end(element);
        } else if (element == "c" && inCell) {
            inCell = false;
            cells.resize(column);
            cells.push_back(cellText());
            ++column;
        } else if (element == "row" && inRow) {
            inRow = false;
            if (std::any_of(cells.begin(), cells.end(), [](const std::string& c) { return !c.empty(); }) &&
                row > MaxSheetRows) {
                problem = tr("a sheet of more than {0} rows", MaxSheetRows);
                return;
            }
            if (!table.row(row, cells))
                done = true;
        }
    }

    void text(std::string_view piece) override {
        if (inValue)
            collect(value, piece);
        else if (inInline)
            inlineText.add(piece);
    }

    std::string cellText() {
        if (type == "s") {
            const std::size_t index = number(value.c_str(), std::string::npos);
            if (index >= shared.size()) {
                problem = damaged(tr("a cell refers to text {0}, which {1} lacks", value,
                                     sharedPart.empty() ? std::string("xl/sharedStrings.xml") : sharedPart));
                return {};
            }
            return shared[index];
        }
        if (type == "inlineStr")
            return unescapedFromCell(inlineText.text);
        if (type == "str")
            return unescapedFromCell(value);
        if (type == "b")
            return value == "1" ? "TRUE" : value == "0" ? "FALSE" : value;
        if (type == "n")
            return numberText(value);
        return value;   // an error ("#DIV/0!"), a date as ISO 8601
    }
};

ImportFile readXlsx(Archive& archive, const RowSink& each) {
    FirstSheet first;
    archive.parse("xl/workbook.xml", first);
    Relationships relationships;
    archive.parse("xl/_rels/workbook.xml.rels", relationships);
    const auto sheet = relationships.target.find(first.id);
    if (sheet == relationships.target.end())
        throw Refused{damaged(tr("{0} has no sheet", std::string("xl/workbook.xml")))};

    // A workbook without a text, or whose writer named a table of them and
    // left it out: a cell that refers to one is told then.
    SharedTexts shared;
    if (!relationships.sharedTexts.empty() && archive.has(relationships.sharedTexts))
        archive.parse(relationships.sharedTexts, shared);
    CellTable table(each);
    XlsxSheet reader(shared.texts, relationships.sharedTexts, table);
    archive.parse(sheet->second, reader);
    return table.finish();
}

// --- ods ------------------------------------------------------------------------------------

constexpr std::string_view OfficeSpace = "opendocument:xmlns:office";
constexpr std::string_view TableSpace = "opendocument:xmlns:table";

struct OdsSheet : Part {
    explicit OdsSheet(CellTable& table) : table(table) {}

    CellTable& table;
    bool inTable = false, inCell = false, inParagraph = false;
    int inNote = 0;
    std::size_t line = 1;           // the next row's number
    std::size_t rowRepeat = 1, cellRepeat = 1;
    std::size_t emptyCells = 0;     // empty cells not yet put in the row: they may end it
    std::vector<std::string> cells, copy;
    std::string cellValue, paragraph;   // the cell's value attribute, its paragraphs
    bool valueGiven = false;
    std::size_t paragraphs = 0;
    bool lastWasSpace = false;

    void start(std::string_view element, const char** attrs) override {
        if (!inTable) {
            inTable = element == "table";
            return;
        }
        if (element == "table-row") {
            rowRepeat = std::max<std::size_t>(number(attribute(attrs, "number-rows-repeated", TableSpace), 1), 1);
            cells.clear();
            emptyCells = 0;
        } else if (element == "table-cell" || element == "covered-table-cell") {
            cellRepeat = std::max<std::size_t>(number(attribute(attrs, "number-columns-repeated", TableSpace), 1), 1);
            startCell(attrs);
        } else if (!inCell) {
            return;
        } else if (element == "annotation") {
            ++inNote;
        } else if (inNote) {
            return;
        } else if (element == "p" || element == "h") {
            if (paragraphs++ > 0)
                collect(paragraph, "\n");
            inParagraph = true;
            lastWasSpace = false;
        } else if (!inParagraph) {
            return;
        } else if (element == "s") {
            const std::size_t count = std::min(number(attribute(attrs, "c"), 1), MaxFieldBytes + 1);
            collect(paragraph, std::string(count, ' '));
        } else if (element == "tab") {
            collect(paragraph, "\t");
        } else if (element == "line-break") {
            collect(paragraph, "\n");
        }
    }

    void startCell(const char** attrs) {
        inCell = true;
        paragraph.clear();
        paragraphs = 0;
        inNote = 0;
        const char* type = attribute(attrs, "value-type", OfficeSpace);
        const std::string_view kind = type ? type : "";
        const char* given = nullptr;
        if (kind == "float" || kind == "percentage" || kind == "currency")
            given = attribute(attrs, "value", OfficeSpace);
        else if (kind == "date")
            given = attribute(attrs, "date-value", OfficeSpace);
        else if (kind == "time")
            given = attribute(attrs, "time-value", OfficeSpace);
        else if (kind == "boolean")
            given = attribute(attrs, "boolean-value", OfficeSpace);
        else if (kind == "string")
            given = attribute(attrs, "string-value", OfficeSpace);
        valueGiven = given != nullptr;
        cellValue.clear();
        if (!given)
            return;
        if (kind == "float" || kind == "percentage" || kind == "currency")
            cellValue = numberText(given);
        else if (kind == "boolean")
            cellValue = std::string_view(given) == "true" ? "TRUE" : std::string_view(given) == "false" ? "FALSE" : given;
        else
            collect(cellValue, given);
    }

    void end(std::string_view element) override {
        if (!inTable)
            return;
        if (element == "table") {
            done = true;
        } else if (element == "table-row") {
            endRow();
        } else if (element == "table-cell" || element == "covered-table-cell") {
            if (inCell)
                endCell();
        } else if (element == "annotation") {
            --inNote;
        } else if (element == "p" || element == "h") {
            inParagraph = false;
        }
    }

    void text(std::string_view piece) override {
        if (!inCell || !inParagraph || inNote)
            return;
        // Runs of white space in a paragraph are one space; the spaces the
        // text truly holds come as <text:s/>.
        for (const char c : piece) {
            const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
            if (space && lastWasSpace)
                continue;
            lastWasSpace = space;
            if (paragraph.size() <= MaxFieldBytes)
                paragraph += space ? ' ' : c;
        }
    }

    void endCell() {
        inCell = false;
        std::string value = valueGiven ? cellValue : paragraph;
        if (value.empty()) {
            emptyCells = std::min(emptyCells + cellRepeat, MaxSheetColumns);
            return;
        }
        if (cells.size() + emptyCells + cellRepeat > MaxSheetColumns) {
            problem = outOfPlace(name, line);
            return;
        }
        cells.resize(cells.size() + emptyCells);
        emptyCells = 0;
        for (std::size_t k = 1; k < cellRepeat; ++k)
            cells.push_back(value);
        cells.push_back(std::move(value));
    }

    void endRow() {
        if (cells.empty()) {   // blank, however often repeated
            line += std::min(rowRepeat, MaxSheetRows + 1);
            return;
        }
        for (std::size_t k = 0; k < rowRepeat; ++k, ++line) {
            if (line > MaxSheetRows) {
                problem = tr("a sheet of more than {0} rows", MaxSheetRows);
                return;
            }
            copy = cells;
            if (!table.row(line, copy)) {
                done = true;
                return;
            }
        }
    }
};

ImportFile readOds(Archive& archive, const RowSink& each) {
    CellTable table(each);
    OdsSheet reader(table);
    archive.parse("content.xml", reader);
    if (!reader.inTable)
        throw Refused{damaged(tr("{0} has no sheet", std::string("content.xml")))};
    return table.finish();
}

}  // namespace

ImportFile readWorkbook(Input& input, const RowSink& each) {
    input.fill(MaxWorkbookBytes + 1);
    try {
        if (input.size() > MaxWorkbookBytes)
            throw Refused{tr("a workbook larger than {0} MiB", MaxWorkbookBytes >> 20)};
        Archive archive(std::string_view(input.data(), input.size()));
        if (archive.has("content.xml") && archive.has("mimetype") &&
            archive.small("mimetype").find("opendocument.spreadsheet") != std::string::npos)
            return readOds(archive, each);
        if (archive.has("xl/workbook.xml"))
            return readXlsx(archive, each);
        throw Refused{_("neither an xlsx nor an ods workbook")};
    } catch (const Refused& refused) {
        ImportFile file;
        file.problem = refused.problem;
        return file;
    }
}

}  // namespace vrindel::cli::reading
