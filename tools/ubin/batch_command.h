#pragma once
// ubin find --batch: the best postal code of every line of a file (or of one column of a CSV
// file, its other columns kept), written as CSV or JSON lines in the file's order.
#include "present/find_batch.h"

#include <ostream>
#include <string>
#include <vector>

namespace ubin {

struct ToolPlaces;

enum class InputEncoding { Auto, Utf8, Cp932 };
enum class OutputEncoding { Utf8, Utf8Bom, Cp932 };

// How to read a file: every line is an address, or with `column` (1-based, or a name of the
// header row) that field of every CSV row is (quoted fields may hold commas, doubled quotes and
// line breaks), the other fields kept as they are. `codeColumn` likewise names a field holding
// a postal code to compare with the answer. With `header` the first row names the columns and
// is not looked up; the lines keep their numbers in the file.
struct BatchReading {
    std::string column;     // empty: every whole line
    std::string codeColumn; // empty: none
    bool header = false;
    InputEncoding encoding = InputEncoding::Auto;
};

// The queries of a file's bytes. A leading BOM is dropped. With Auto the bytes are taken as code
// page 932 when most of the fields holding non-ASCII bytes are not UTF-8; a line whose address
// does not decode becomes an error line, another field that does not decode is kept with
// U+FFFD for its bytes. Error (with a message for the user) when a column named is not there.
struct BatchInput {
    std::vector<BatchLine> lines;
    bool cp932 = false;
    std::vector<std::string> header; // the names of the input's columns, for the output
};
BatchInput ReadBatchInput(std::string_view bytes, const BatchReading& reading);
// The same with the address column given by number (0: whole lines).
BatchInput ReadBatchInput(std::string_view bytes, std::size_t column, bool header);

struct BatchOptions {
    std::string file; // "-": standard input
    BatchReading reading;
    bool json = false;
    OutputEncoding output = OutputEncoding::Utf8;
    unsigned threads = 0;  // 0: one per core
    bool progress = false; // draw a progress bar on err
    std::string report;    // write a summary there (HTML for a name ending in .html or .htm)
    std::string since;     // an older directory folder to compare the codes with
};

// Runs the batch; returns 0 when every line found a code, 1 when some found none or could not
// be asked, 2 when the file, a directory or the report cannot be read or written, or a column
// named is not in the file.
int RunFindBatch(const BatchOptions& options, const std::u16string& dataFolder, std::ostream& out, std::ostream& err);

// The rows of CSV bytes, each its fields unquoted: a quoted field may hold commas, doubled
// quotes and line breaks; a line break at the very end ends the last row rather than starting
// another.
std::vector<std::vector<std::string>> SplitCsv(std::string_view bytes);

// A CSV row's bytes in the output's encoding: UTF-8, or code page 932 with each character it
// cannot hold written as 〓 (counted in `replaced`).
std::string Encoded(const std::string& utf8, OutputEncoding encoding, std::size_t& replaced);

} // namespace ubin
