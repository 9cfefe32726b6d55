#pragma once
// What the benchmarks share: per-operation times for the median, SQLite statements without
// results, and the data files named on the command line.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace ubin::bench {

// Per-operation times, for the median.
class Timer {
public:
    void Start() { t0_ = std::chrono::steady_clock::now(); }
    void Stop() { us_.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0_).count()); }
    // The mean over whole passes of a list of `queries` (over all when fewer were timed), so
    // that every query weighs alike however many iterations the library chose: two runs of
    // one list are compared over the same queries.
    double PassMean(std::size_t queries) const
    {
        const std::size_t n = queries == 0 || us_.size() < queries ? us_.size() : us_.size() / queries * queries;
        if (n == 0) return 0;
        double sum = 0;
        for (std::size_t i = 0; i < n; ++i) sum += us_[i];
        return sum / static_cast<double>(n);
    }
    // Reorders the times: take PassMean first.
    double Median()
    {
        if (us_.empty()) return 0;
        std::nth_element(us_.begin(), us_.begin() + static_cast<std::ptrdiff_t>(us_.size() / 2), us_.end());
        return us_[us_.size() / 2];
    }

private:
    std::chrono::steady_clock::time_point t0_;
    std::vector<double> us_;
};

inline void SqliteExec(sqlite3* db, const char* sql)
{
    char* msg = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
        const std::string m = msg ? msg : "?";
        sqlite3_free(msg);
        throw std::runtime_error("sqlite: " + m);
    }
}

// Takes the leading arguments that are not options as the files, in order, leaving the rest
// (the benchmark library's options) in argc and argv.
inline void TakeFileArguments(int& argc, char**& argv, std::initializer_list<std::filesystem::path*> files)
{
    for (std::filesystem::path* file : files) {
        if (argc <= 1 || argv[1][0] == '-') return;
        *file = argv[1];
        --argc;
        ++argv;
        argv[0] = argv[-1];
    }
}

} // namespace ubin::bench
