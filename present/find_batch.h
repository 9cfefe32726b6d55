#pragma once
// Cleaning a list of addresses: the best postal code of each line, for `ubin find --batch` and
// ubin-serve's POST /v1/find/batch. The lines are answered on several threads and handed back
// in their own order, each as soon as it and every line before it are done, so that a long list
// is written while it is still being answered. No Qt, no command line: both programs link it.
#include "present/address_parts.h"
#include "present/reasons.h"
#include "search/find.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// One line to answer: its text as it is shown back (UTF-8), and the query, or why the line could
// not be read as text.
struct BatchLine {
    std::size_t number = 0; // 1-based, as the input counts its lines (or CSV rows)
    std::string input;
    std::u16string query;
    std::string error; // set when the bytes did not decode
    // The row's columns as text (UTF-8), when it came from a CSV file: written back before the
    // answer's own columns.
    std::vector<std::string> fields;
    // A postal code the list gives for the address, compared with the answer's.
    bool codeGiven = false;
    std::u16string writtenCode;
};

// How sure an answer is: high (one candidate, all of the text used, the town or more matched,
// nothing to check), low (nothing found, the town unknown, less than half of the text used, a
// reason that puts the answer itself in doubt) or medium.
enum class Confidence { None, Low, Medium, High };
const char* ConfidenceName(Confidence c); // "", "low", "medium", "high"

// The answer of one line. An empty line, and a line that could not be asked, have every field
// empty but the error of the latter.
struct BatchAnswer {
    std::string postalCode, match, level, address;
    std::size_t candidates = 0;
    std::string error;
    bool empty = false; // the line held nothing to look up

    // The entry's prefecture, city and town proper, and the written address split
    // (present/address_parts.h), all UTF-8; the address in one notation.
    std::string prefecture, city, town, chome, banchi, go, building, floor, room, rest, normalized;
    ReasonSet reasons;
    int textUsed = 0; // percent of the written characters (blanks aside) that the answer placed
    Confidence confidence = Confidence::None;
    bool review = false; // a person should check the row
    // With a code column: "same", "differs", "unreadable" (not 7 digits), or empty when the row
    // gives none.
    std::string codeCheck;
    // The 7 digits of a code the row wrote (in its code column, else before the address) that
    // were compared with the answer's.
    std::string writtenCode;
    // With an older directory: whether it answered another code, and that code (empty when it
    // found none).
    bool changed = false;
    std::string previousCode;

    bool Found() const { return !postalCode.empty(); }
};

// The texts of the error column.
namespace batch_message {
inline constexpr char kNotUtf8[] = "UTF-8 として読めないバイトがあります。";
inline constexpr char kNotCp932[] = "CP932 として読めないバイトがあります。";
inline constexpr char kTooLong[] = "長すぎます（正規化後256文字まで）。";
inline constexpr char kControl[] = "制御文字が含まれています。";
} // namespace batch_message

// A line of bytes taken as UTF-8 or code page 932; a line that does not decode gets the error
// and an input where each run of non-ASCII bytes is shown as U+FFFD.
BatchLine DecodeBatchLine(std::size_t number, std::string_view bytes, bool cp932);

// The best answer of one line: the first result of the finder (it puts the best first), the
// address split into its parts, the reasons and how sure it is. With `older` (the finder of an
// older directory), the line is answered there too and a different code is marked.
BatchAnswer AnswerBatchLine(const Finder& finder, const BatchLine& line, const Finder* older = nullptr);

// Answers the lines on `threads` threads (0: one per core), each taking a chunk of lines at a
// time, and calls `take` on the calling thread with every answer in the lines' order, as soon as
// it and all before it are done. An exception of the finder (a damaged directory) is thrown here
// once the threads have stopped.
using TakeAnswer = std::function<void(const BatchLine& line, const BatchAnswer& answer)>;
void AnswerInOrder(const Finder& finder, const std::vector<BatchLine>& lines, unsigned threads, const TakeAnswer& take,
                   const Finder* older = nullptr);

// The columns a batch adds after the input's own, in order (docs/batch.md), and their values
// for one answer.
extern const std::vector<std::string> kBatchColumns;
std::vector<std::string> BatchColumnValues(const BatchAnswer& answer);

// The JSON of one answer: {"line", "input", then "postal_code", "match", "level", "address",
// "candidates", and the columns of kBatchColumns by the same names ("reasons" as a list of
// {"code", "text"}, "review" a boolean, "candidates" and "text_used" numbers); or "error"
// instead of these for a line that could not be asked}.
nlohmann::ordered_json BatchAnswerJson(const BatchLine& line, const BatchAnswer& answer);

} // namespace ubin
