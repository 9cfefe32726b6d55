#pragma once
// The summary of a batch that a person reads: rows per level and per reason, how sure the
// answers are, the towns most often not found, the written codes that disagreed with the
// answer and, against an older directory, the codes that changed. As text, or as one HTML page
// that needs nothing else (its bars are drawn by its own style sheet).
#include "present/find_batch.h"

#include <array>
#include <map>
#include <string>
#include <vector>

namespace ubin {

class BatchReport {
public:
    // What the report says about its input: the file's name, its encoding, and the editions of
    // the directory and of the older one (empty when none).
    struct Source {
        std::string file, encoding, edition, olderEdition;
    };
    // A row the report lists by itself.
    struct Row {
        std::size_t line = 0;
        std::string before, after, address; // the code written (or the older one), the answer's
    };
    struct Count {
        std::string key, label;
        std::size_t rows = 0;
    };

    static constexpr std::size_t kTopTowns = 20;
    static constexpr std::size_t kListedRows = 100;

    explicit BatchReport(Source source) : source_(std::move(source)) {}
    void Add(const BatchLine& line, const BatchAnswer& answer);

    std::size_t Rows() const { return rows_; }
    std::size_t Found() const { return found_; }
    std::size_t Review() const { return review_; }
    // Rows by level (the match where the text was no address; error and empty lines apart), in
    // a fixed order, those with none left out.
    std::vector<Count> Levels() const;
    std::vector<Count> Confidences() const;
    std::vector<Count> Reasons() const;
    // The towns not found ("広島県広島市中区 存在しない町"), most rows first, at most kTopTowns.
    std::vector<Count> TownsNotFound() const;
    std::size_t Mismatches() const { return mismatches_; }
    const std::vector<Row>& MismatchRows() const { return mismatchRows_; }
    std::size_t Changes() const { return changes_; }
    const std::vector<Row>& ChangedRows() const { return changedRows_; }

    std::string Text() const;
    std::string Html() const;

private:
    Source source_;
    std::size_t rows_ = 0, found_ = 0, review_ = 0, mismatches_ = 0, changes_ = 0;
    std::map<std::string, std::size_t> levels_, confidences_;
    std::array<std::size_t, kReasonCount> reasons_{};
    std::map<std::string, std::size_t> towns_;
    std::vector<Row> mismatchRows_, changedRows_;
};

// The key a row is counted under in BatchReport::Levels: "number", "town", "city",
// "prefecture", "none" for an address; "postal", "reading", "text"; "error", "empty".
std::string LevelKey(const BatchAnswer& answer);
// Its Japanese label (番地まで, 町域まで, …).
const char* LevelLabel(std::string_view key);
// The levels in the order reports list them.
const std::vector<std::string>& LevelKeys();

// Text made safe for HTML: & < > " ' as references.
std::string HtmlEscape(std::string_view text);

} // namespace ubin
