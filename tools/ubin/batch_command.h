#pragma once
// ubin find --batch: the best postal code of every line of a file (or of one column of a CSV
// file), written as CSV or JSON lines in the file's order.
#include "present/find_batch.h"

#include <ostream>
#include <string>
#include <vector>

namespace ubin {

struct ToolPlaces;

// The queries of a file's bytes: every line, or with `column` (1-based) that field of every CSV
// row (quoted fields may hold commas, doubled quotes and line breaks). A leading BOM is dropped.
// The bytes are taken as code page 932 when most of the lines holding non-ASCII bytes are not
// UTF-8; a line that does not decode becomes an error line. With `header` the first row is not
// looked up; the lines keep their numbers in the file.
struct BatchInput {
    std::vector<BatchLine> lines;
    bool cp932 = false;
};
BatchInput ReadBatchInput(std::string_view bytes, std::size_t column, bool header);

struct BatchOptions {
    std::string file; // "-": standard input
    std::size_t column = 0;
    bool header = false;
    bool json = false;
    unsigned threads = 0; // 0: one per core
    bool progress = false; // draw a progress bar on err
};

// The output's columns, in order (its header row).
extern const std::vector<std::string> kBatchCsvColumns;

// Runs the batch; returns 0 when every line found a code, 1 when some found none or could not
// be asked, 2 when the file or the directory cannot be read.
int RunFindBatch(const BatchOptions& options, const std::u16string& dataFolder, std::ostream& out, std::ostream& err);

} // namespace ubin
