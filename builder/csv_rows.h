#pragma once
// Rows of Japan Post's CSV files (KEN_ALL.CSV, JIGYOSYO.CSV): the whole file read, its edition
// told (code page 932, or UTF-8 with or without a byte order mark), each line decoded and split
// into its columns. Every fault is a BuildError naming the file, the line and what is wrong.
#include "builder/builder.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// Where each line of a text put together from several files came from (a full file with the
// month files applied): line n of the text is line lines[n - 1].line of files[lines[n - 1].file].
struct LineOrigins {
    struct Origin {
        std::uint32_t file = 0, line = 0;
    };
    std::vector<std::filesystem::path> files;
    std::vector<Origin> lines;

    // The origin of line n of the text; none when the text has no such line.
    const Origin* Of(std::int64_t n) const;
};

// A file's bytes as read, with the name messages give it, and, for a text put together from
// several files, where its lines came from.
struct InputBytes {
    std::filesystem::path name;
    std::string bytes;
    std::shared_ptr<const LineOrigins> origins = nullptr; // none: the lines are the file's own
};

// An error about a line of the input as it reads in the file the line came from: its name and
// its own line number. Any other error is given back as it is.
BuildError Located(const BuildError& e, const InputBytes& input);

// Line n of the input in a message about a line of `beside`: "line 9", or "line 9 of
// ADD_2611.CSV" when it came from another file than the one `beside` came from.
std::string LineText(const InputBytes& input, std::int64_t n, std::int64_t beside);

// The whole file (KEN_ALL.CSV, JIGYOSYO.CSV or a change file): a pipe is read to its end; a
// folder, a device or anything larger than 128 MiB is refused with a BuildError. `kind` names
// the file in messages ("KEN_ALL").
std::string ReadInputFile(const std::filesystem::path& file, const std::string& kind);

// Which edition the bytes are: UTF-8 when they open with a byte order mark, or when they hold
// bytes above 0x7F and all of them are well-formed UTF-8; code page 932 otherwise.
InputEncoding DetectEncoding(std::string_view bytes);

class CsvRows {
public:
    // Reads the whole file; `columns` is how many every row must have, `kind` names the file's
    // rows in messages ("KEN_ALL", "JIGYOSYO"). The file may be a pipe; a device, or anything
    // larger than 128 MiB, is refused.
    CsvRows(const std::filesystem::path& file, int columns, std::string kind);
    // The same for bytes held in memory; `name` is the file the messages name.
    CsvRows(std::string bytes, const std::filesystem::path& name, int columns, std::string kind);

    InputEncoding encoding() const { return encoding_; }
    const std::filesystem::path& file() const { return file_; }

    // Calls `row` for each non-empty line with its 1-based number and its columns, decoded.
    void ForEach(const std::function<void(std::int64_t line, std::vector<std::u16string>& columns)>& row);

    [[noreturn]] void Fail(std::int64_t line, const std::string& reason) const { throw BuildError(file_, line, reason); }
    // "column 3 (postal code)"
    static std::string ColumnText(int column, const char* name);

private:
    // A byte order mark says UTF-8; a file saved in code page 932 by a program that added the
    // mark anyway is told so, rather than that it is not UTF-8 "like the rest".
    void CheckMarkedUtf8() const;

    std::filesystem::path file_;
    int columns_;
    std::string kind_;
    std::string bytes_;
    InputEncoding encoding_ = InputEncoding::Cp932;
};

// Whether the text is exactly n ASCII digits.
bool AllDigits(std::u16string_view s, std::size_t n);

// Characters the UTF-8 edition may write in their JIS form, as code page 932 holds them.
void NormaliseName(std::u16string& s);

// The directory's readers split lines on every comma and drop every double quote, so a value
// can hold neither: they become their full-width forms. Returns how many were replaced.
std::int64_t ReplaceSeparators(std::u16string& s);

} // namespace ubin
