#pragma once
// ubin eval GOLD.csv: how well the batch answers a list whose right codes are known. Each row
// gives an address and its expected postal code; the figures are the coverage (rows that got a
// code) and the precision of the first answer (of those, the rows whose code is the expected
// one), and how often the expected code is among the candidates at all, in all and by level
// and reason.
#include <cstddef>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace ubin {

struct ToolPlaces;
struct BatchAnswer;

struct EvalFigures {
    std::size_t rows = 0, answered = 0, correct = 0, inCandidates = 0;
    double Coverage() const;
    double Precision() const;
    // The expected code among the candidates (the first answer or the others), of all rows.
    double CandidateShare() const;
};

class EvalTally {
public:
    // One row: its answer, and whether the expected code was the first answer or among the
    // candidates.
    void Add(const BatchAnswer& answer, bool correct, bool inCandidates);
    const EvalFigures& All() const { return all_; }
    // By level key (present/batch_report.h LevelKey) in the report's order, and by reason code
    // in the reasons' order; those with no row left out.
    std::vector<std::pair<std::string, EvalFigures>> ByLevel() const;
    std::vector<std::pair<std::string, EvalFigures>> ByReason() const;

private:
    EvalFigures all_;
    std::map<std::string, EvalFigures> levels_, reasons_;
};

// Runs `ubin eval ...` (args without "eval"); 0 when the figures were printed, 2 after an error.
int RunEval(const std::vector<std::string>& args, const ToolPlaces& places, std::ostream& out, std::ostream& err);

} // namespace ubin
