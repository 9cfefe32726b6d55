#include "tools/ubin-serve/batch.h"

#include "present/find_batch.h"

#include <optional>

namespace ubin::serve {

namespace {

class Batch final : public Work {
public:
    Batch(const Service& service, std::string body, WorkClock::duration budget)
        : service_(service), body_(std::move(body)), budget_(budget)
    {
    }

    bool Step(WorkClock::duration slice) override
    {
        if (!edition_ && !Begin()) return true;
        const WorkClock::time_point end = WorkClock::now() + slice;
        while (next_ < lines_.size()) {
            const BatchLine line = DecodeBatchLine(next_ + 1, lines_[next_], false);
            BatchAnswer answer;
            if (spent_ < budget_) {
                const WorkClock::time_point start = WorkClock::now();
                answer = AnswerBatchLine(*edition_->finder, line);
                spent_ += WorkClock::now() - start;
            } else {
                answer.error = message::kBatchBudget;
            }
            if (next_++ > 0) rows_ += ',';
            rows_ += BatchAnswerJson(line, answer).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            if (next_ < lines_.size() && spent_ < budget_ && WorkClock::now() >= end) return false;
        }
        return Finish();
    }

    Reply TakeReply() override { return std::move(reply_); }

private:
    // The lines, and the edition that answers them all; false when the reply is made already.
    bool Begin()
    {
        lines_ = SplitBatchBody(body_);
        if (lines_.size() > kMaxBatchLines) return Refuse(ErrorReply(413, message::kBatchTooLarge));
        edition_ = service_.Current();
        if (!edition_->finder) return Refuse(ErrorReply(404, message::kNoFind));
        const DirectoryEdition& data = edition_->lookup->Edition();
        rows_ = "{\"edition\":";
        rows_ += data.month ? nlohmann::json(FormatYearMonth(*data.month)).dump() : "null";
        rows_ += ",\"results\":[";
        return true;
    }

    bool Refuse(Reply reply)
    {
        reply_ = std::move(reply);
        if (edition_) reply_.edition = EditionName(*edition_);
        return false;
    }

    bool Finish()
    {
        rows_ += "]}";
        reply_.body = std::move(rows_);
        reply_.edition = EditionName(*edition_);
        return true;
    }

    const Service& service_;
    std::string body_;
    WorkClock::duration budget_;
    WorkClock::duration spent_{};
    std::shared_ptr<const Edition> edition_;
    std::vector<std::string_view> lines_; // into body_
    std::size_t next_ = 0;
    std::string rows_; // the reply as far as it is written
    Reply reply_;
};

} // namespace

std::vector<std::string_view> SplitBatchBody(std::string_view body)
{
    if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
    std::vector<std::string_view> lines;
    while (!body.empty()) {
        // One more than the most lines taken is enough to refuse the body.
        if (lines.size() > kMaxBatchLines) break;
        const std::size_t end = body.find('\n');
        std::string_view line = body.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
    }
    return lines;
}

std::unique_ptr<Work> BatchWork(const Service& service, std::string body, WorkClock::duration budget)
{
    static_assert(kMaxBatchLines == 10000 && kMaxBatchBytes == 1 << 20, "message::kBatchTooLarge names the limits");
    if (body.size() > kMaxBatchBytes) return MadeReply(ErrorReply(413, message::kBatchTooLarge));
    return std::make_unique<Batch>(service, std::move(body), budget);
}

} // namespace ubin::serve
