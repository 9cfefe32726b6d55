#include "builder/month_files.h"

#include "base/csv.h"
#include "base/path_text.h"
#include "builder/csv_rows.h"

#include <algorithm>
#include <deque>
#include <list>
#include <map>
#include <unordered_map>

namespace ubin {

namespace {

struct Format {
    int columns;
    int cityColumn, postalColumn, townColumn, kanaColumn;
    int identityColumns; // the columns that tell two rows apart: the first n
    bool continuation;   // long towns over several rows
    const char* kind;
};

constexpr Format kKenAll{15, 0, 2, 8, 5, 13, true, "KEN_ALL"};
constexpr Format kJigyosyo{13, 0, 7, 5, 1, 12, false, "JIGYOSYO"};

bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// The full-width parentheses （ and ） of a town name: +1 and -1 per character.
int FullWidthBalance(std::string_view s, bool utf8)
{
    int depth = 0;
    if (utf8) {
        for (std::size_t i = 0; i + 2 < s.size(); ++i) {
            if (s[i] != '\xEF' || s[i + 1] != '\xBC') continue;
            if (s[i + 2] == '\x88') ++depth;
            else if (s[i + 2] == '\x89') --depth;
        }
        return depth;
    }
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (!IsLeadByte(static_cast<unsigned char>(s[i]))) continue;
        if (i + 1 < s.size() && s[i] == '\x81') {
            if (s[i + 1] == '\x69') ++depth;
            else if (s[i + 1] == '\x6A') --depth;
        }
        ++i;
    }
    return depth;
}

// The town name before its first full-width parenthesis.
std::string_view TownPart(std::string_view s, bool utf8)
{
    if (utf8) return s.substr(0, s.find("\xEF\xBC\x88"));
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (!IsLeadByte(static_cast<unsigned char>(s[i]))) continue;
        if (i + 1 < s.size() && s[i] == '\x81' && s[i + 1] == '\x69') return s.substr(0, i);
        ++i;
    }
    return s;
}

int HalfWidthBalance(std::string_view s)
{
    int depth = 0;
    for (const char c : s) depth += c == '(' ? 1 : c == ')' ? -1 : 0;
    return depth;
}

// One record: a row, or a long town's rows.
struct Record {
    std::string text;     // the rows as they stand in their file, each ending in CR LF
    std::string identity; // the values that tell records apart
    std::string city, postal, town, kana;
    std::int64_t line = 0;                // of its first row, in its own file
    std::vector<std::int64_t> moreLines;  // of its continuation rows
    std::uint32_t source = 0;             // its file, as LineOrigins numbers them
    bool deleted = false;
    std::list<Record*>::iterator place;
};

// The records of one file, in order.
class RecordReader {
public:
    RecordReader(const Format& format, const InputBytes& input, bool utf8, std::uint32_t source = 0)
        : format_(format), input_(input), utf8_(utf8), source_(source) {}

    template <class Sink>
    void ForEach(Sink&& sink)
    {
        std::string_view rest = input_.bytes;
        if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
        std::int64_t lineNo = 0;
        Record pending;
        int nameDepth = 0, kanaDepth = 0;
        bool open = false;
        std::vector<std::string_view> values;
        std::deque<std::string> scratch;
        while (!rest.empty()) {
            scratch.clear();
            const std::string_view line = TakeLine(rest);
            ++lineNo;
            if (line.empty()) continue;
            if (!SplitCsvRow(line, values, scratch)) Fail(lineNo, "a double quote is not closed");
            if (values.size() != static_cast<std::size_t>(format_.columns))
                Fail(lineNo, "has " + std::to_string(values.size()) + " columns; " + format_.kind + " rows have "
                                 + std::to_string(format_.columns));
            const std::string_view city = values[static_cast<std::size_t>(format_.cityColumn)];
            const std::string_view postal = values[static_cast<std::size_t>(format_.postalColumn)];
            // A row continues the town before it while that town's parenthesis is open and the
            // codes are the same (the reader of the build names a town left open).
            if (open && (city != pending.city || postal != pending.postal)) {
                sink(std::move(pending));
                pending = Record{};
                open = false;
            }
            const std::string_view town = values[static_cast<std::size_t>(format_.townColumn)];
            const std::string_view kana = values[static_cast<std::size_t>(format_.kanaColumn)];
            if (!open) {
                pending.line = lineNo;
                pending.source = source_;
                pending.text.reserve(line.size() + 2);
                pending.identity.reserve(line.size());
                pending.city = city;
                pending.postal = postal;
                pending.town = TownPart(town, utf8_);
                pending.kana = kana;
                nameDepth = kanaDepth = 0;
            } else {
                pending.identity.push_back('\x1E');
                pending.moreLines.push_back(lineNo);
            }
            pending.text.append(line).append("\r\n");
            for (int c = 0; c < format_.identityColumns; ++c) {
                pending.identity.append(values[static_cast<std::size_t>(c)]);
                pending.identity.push_back('\x1F');
            }
            if (format_.continuation) {
                if (!open || nameDepth > 0) nameDepth += FullWidthBalance(town, utf8_);
                if (!open || kanaDepth > 0) kanaDepth += HalfWidthBalance(kana);
            }
            open = nameDepth > 0 || kanaDepth > 0;
            if (!open) {
                sink(std::move(pending));
                pending = Record{};
            }
        }
        if (open) sink(std::move(pending));
    }

    [[noreturn]] void Fail(std::int64_t line, const std::string& reason) const
    {
        throw BuildError(input_.name, line, reason);
    }

private:
    const Format& format_;
    const InputBytes& input_;
    bool utf8_;
    std::uint32_t source_;
};

bool HasHighBytes(std::string_view bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// 以下に掲載がない場合's reading, which leads its city's rows, in either edition.
bool IsCityWide(const Record& r)
{
    return r.kana == "\xB2\xB6\xC6\xB9\xB2\xBB\xB2\xB6\xDE\xC5\xB2\xCA\xDE\xB1\xB2" // ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ
           || r.kana == "イカニケイサイガナイバアイ";
}

class Applier {
public:
    Applier(const Format& format, bool utf8, bool lenient, MonthReport& report)
        : format_(format), utf8_(utf8), lenient_(lenient), report_(report) {}

    void Base(const InputBytes& base)
    {
        index_.reserve(base.bytes.size() / 80);
        RecordReader(format_, base, utf8_).ForEach([&](Record&& r) {
            Record* record = Keep(std::move(r));
            auto& city = CityList(record->city, true);
            record->place = city.insert(city.end(), record);
        });
    }

    // `source`: the added file's number in the line origins.
    void Month(const MonthBytes& month, std::uint32_t source)
    {
        std::map<std::pair<std::string, std::string>, std::list<Record*>::iterator> anchors;
        std::vector<Record*> deleted;
        RecordReader(format_, month.del, utf8_).ForEach([&](Record&& r) {
            const auto found = index_.find(r.identity);
            if (found == index_.end())
                RecordReader(format_, month.del, utf8_)
                    .Fail(r.line, "deletes a row that the data does not hold (the base file with the months before)");
            Record* gone = found->second;
            index_.erase(found);
            gone->deleted = true;
            deleted.push_back(gone);
            anchors.try_emplace({gone->city, gone->postal}, gone->place);
            ++report_.deleted;
        });
        RecordReader(format_, month.add, utf8_, source).ForEach([&](Record&& r) {
            if (index_.contains(r.identity)) {
                if (!lenient_)
                    RecordReader(format_, month.add, utf8_)
                        .Fail(r.line, "adds a row that the data holds already (--lenient counts such rows instead)");
                ++report_.alreadyPresent;
                return;
            }
            Record* record = Keep(std::move(r));
            auto& city = CityList(record->city, true);
            if (const auto anchor = anchors.find({record->city, record->postal}); anchor != anchors.end()) {
                record->place = city.insert(std::next(anchor->second), record);
                anchor->second = record->place;
            } else {
                record->place = city.insert(Where(city, *record), record);
            }
            ++report_.added;
        });
        for (Record* r : deleted) CityList(r->city, false).erase(r->place);
    }

    std::string Result(std::string_view bom, LineOrigins* origins) const
    {
        std::string out(bom);
        for (const std::string& code : cityOrder_)
            for (const Record* r : cities_.at(code)) {
                out += r->text;
                if (!origins) continue;
                origins->lines.push_back({r->source, static_cast<std::uint32_t>(r->line)});
                for (const std::int64_t more : r->moreLines)
                    origins->lines.push_back({r->source, static_cast<std::uint32_t>(more)});
            }
        return out;
    }

private:
    Record* Keep(Record&& r)
    {
        records_.push_back(std::move(r));
        Record* record = &records_.back();
        index_.emplace(record->identity, record);
        return record;
    }

    std::list<Record*>& CityList(const std::string& code, bool create)
    {
        const auto found = cities_.find(code);
        if (found != cities_.end() || !create) return found->second;
        // A new city goes before the first city of a higher code.
        const auto at = std::find_if(cityOrder_.begin(), cityOrder_.end(), [&](const std::string& c) { return c > code; });
        cityOrder_.insert(at, code);
        return cities_[code];
    }

    // Where a record goes among its city's rows, when no deleted row of its codes gives its place.
    std::list<Record*>::iterator Where(std::list<Record*>& city, const Record& r) const
    {
        auto lastOfTown = city.end();
        for (auto it = city.begin(); it != city.end(); ++it)
            if (!(*it)->deleted && (*it)->town == r.town) lastOfTown = it;
        if (lastOfTown != city.end()) return std::next(lastOfTown);
        for (auto it = city.begin(); it != city.end(); ++it)
            if (!(*it)->deleted && !IsCityWide(**it) && (*it)->kana > r.kana) return it;
        return city.end();
    }

    const Format& format_;
    bool utf8_;
    bool lenient_;
    MonthReport& report_;
    std::deque<Record> records_;
    // The records in the data by identity (a view of the record's own, which stays in place).
    std::unordered_multimap<std::string_view, Record*> index_;
    std::vector<std::string> cityOrder_;
    std::unordered_map<std::string, std::list<Record*>> cities_;
};

} // namespace

std::string ApplyMonths(ChangeFormat which, const InputBytes& base, const std::vector<MonthBytes>& months, bool lenient,
                        MonthReport& report, LineOrigins* origins)
{
    const Format& format = which == ChangeFormat::KenAll ? kKenAll : kJigyosyo;
    const bool utf8 = DetectEncoding(base.bytes) == InputEncoding::Utf8;
    const auto checkEdition = [&](const InputBytes& file) {
        if (!HasHighBytes(file.bytes)) return;
        const bool fileUtf8 = DetectEncoding(file.bytes) == InputEncoding::Utf8;
        if (fileUtf8 != utf8)
            throw BuildError(file.name, 0, std::string("is ") + (fileUtf8 ? "UTF-8" : "code page 932 (Shift-JIS)")
                                               + ", but " + PathToUtf8(base.name) + " is "
                                               + (utf8 ? "UTF-8" : "code page 932 (Shift-JIS)")
                                               + ": take the change files of the same edition as the full file");
    };
    for (const MonthBytes& m : months) {
        checkEdition(m.add);
        checkEdition(m.del);
    }
    Applier applier(format, utf8, lenient, report);
    applier.Base(base);
    // The base is file 0 of the origins, each month's added file the next.
    if (origins) *origins = LineOrigins{{base.name}, {}};
    for (const MonthBytes& m : months) {
        applier.Month(m, static_cast<std::uint32_t>(origins ? origins->files.size() : 0));
        if (origins) origins->files.push_back(m.add.name);
    }
    const bool bom = std::string_view(base.bytes).starts_with("\xEF\xBB\xBF");
    return applier.Result(bom ? "\xEF\xBB\xBF" : "", origins);
}

} // namespace ubin
