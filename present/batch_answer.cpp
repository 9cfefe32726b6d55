// The answer of one line of a batch: the finder's best result, the written address split into
// its parts, the reasons worked out from the answer and the text, and how sure it is.
#include "present/find_batch.h"

#include "base/cp932.h"
#include "base/normalize.h"
#include "base/text.h"
#include "present/find_json.h"

#include <algorithm>
#include <optional>

namespace ubin {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\u3000'; }

bool Blank(std::u16string_view text) { return std::all_of(text.begin(), text.end(), IsBlank); }

std::size_t Visible(std::u16string_view text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char16_t c) { return !IsBlank(c); }));
}

bool IsDash(char16_t c) { return c == u'-' || c == u'\u2010' || c == u'\u2011' || c == u'\u2012' || c == u'\u2013' || c == u'\u2014' || c == u'\u2212' || c == u'ー'; }

// A postal code written before an address (〒100-0014 東京都…, 1000014東京都…): its 7 digits;
// empty when the text does not begin with one or holds nothing after it.
std::u16string CodeBefore(std::u16string_view typed)
{
    // Most addresses begin with a name: they are not normalized for this.
    const auto first = std::find_if_not(typed.begin(), typed.end(), IsBlank);
    if (first == typed.end() || !(*first == u'〒' || IsDigit(*first) || (*first >= u'０' && *first <= u'９'))) return {};
    const std::u16string t = Nfkc(typed);
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < t.size() && IsBlank(t[i])) ++i;
    };
    skipBlanks();
    if (i < t.size() && t[i] == u'〒') ++i;
    skipBlanks();
    std::u16string digits;
    while (i < t.size() && digits.size() < 8 && (IsDigit(t[i]) || (IsDash(t[i]) && digits.size() == 3))) {
        if (IsDigit(t[i])) digits.push_back(t[i]);
        ++i;
    }
    if (digits.size() != 7) return {};
    skipBlanks();
    return i < t.size() && !IsDigit(t[i]) ? digits : std::u16string();
}

// The digits of a code written in the list's code column; `readable` false when it holds more
// than digits, blanks, 〒 and dashes, or not 7 digits. Six digits are a code whose leading 0 a
// spreadsheet dropped (0470012 read as the number 470012).
std::u16string WrittenCodeDigits(std::u16string_view written, bool& readable)
{
    std::u16string digits;
    readable = true;
    for (const char16_t c : Nfkc(written)) {
        if (IsDigit(c)) digits.push_back(c);
        else if (!IsBlank(c) && c != u'〒' && !IsDash(c)) readable = false;
    }
    if (digits.size() == 6) digits.insert(digits.begin(), u'0');
    if (!digits.empty() && digits.size() != 7) readable = false;
    return digits;
}

// The length of a postal code written before an address in name form (〒100-0014・, 1000014);
// 0 when there is none (千葉県 in name form begins with the digits of 千).
std::size_t CodeLength(std::u16string_view text)
{
    std::size_t i = !text.empty() && text[0] == u'〒' ? 1 : 0, digits = 0;
    while (i < text.size() && (IsDigit(text[i]) || text[i] == u'-')) digits += IsDigit(text[i++]);
    if (digits != 7 && !(digits > 0 && text[0] == u'〒')) return 0;
    while (i < text.size() && text[i] == kNumberBreak) ++i;
    return i;
}

// The text without 大字 and 字, which a town may be written with or without.
std::u16string WithoutAza(std::u16string_view text)
{
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, 2) == u"大字") ++i;
        else if (text[i] != u'字') out.push_back(text[i]);
    }
    return out;
}

bool Holds(std::u16string_view text, std::u16string_view part) { return !part.empty() && text.find(part) != std::u16string_view::npos; }

std::u16string Without(std::u16string_view text, std::u16string_view drop)
{
    std::u16string out;
    for (const char16_t c : text)
        if (drop.find(c) == std::u16string_view::npos) out.push_back(c);
    return out;
}

// What the written text (in name form) left out or wrote otherwise than the entry: the
// prefecture, the city, its county or its ward, the town's spelling.
void CompareWritten(std::u16string_view written, const Entry& e, AddressLevel level, ReasonSet& why)
{
    // The prefecture begins the address (after a code written before it), in full or short
    // (東京千代田区); 広島市 begins with a city, not with 広島県's short form.
    const NameText prefecture = NameForm(e.prefecture);
    const std::u16string_view p = prefecture;
    std::u16string_view start = written;
    if (const std::size_t code = CodeLength(start); code > 0) start.remove_prefix(code);
    const bool shortForm = p.size() > 2 && (p.back() == u'都' || p.back() == u'府' || p.back() == u'県');
    const std::u16string_view shortName = shortForm ? p.substr(0, p.size() - 1) : std::u16string_view();
    const bool prefectureWritten = start.starts_with(p) || (shortForm && start.starts_with(shortName) && start.substr(shortName.size(), 1) != u"市");
    if (!prefectureWritten) why.Add(Reason::PrefectureOmitted);

    const NameText cityName = NameForm(e.city);
    const std::u16string_view city = cityName;
    if (!Holds(written, city)) {
        const std::size_t county = city.find(u'郡');
        const std::size_t shi = city.find(u'市');
        const bool ward = shi != std::u16string_view::npos && shi + 1 < city.size() && city.back() == u'区';
        if (county != std::u16string_view::npos && Holds(written, city.substr(county + 1))) why.Add(Reason::CountyRestored);
        else if (ward && Holds(written, city.substr(0, shi + 1))) why.Add(Reason::WardOmitted);
        else if (!(ward && Holds(written, city.substr(shi + 1))) && level >= AddressLevel::Town) why.Add(Reason::CityOmitted);
    }

    if (level < AddressLevel::Town) return;
    const NameText townName = NameForm(e.TownProper());
    const std::u16string_view town = townName;
    if (town.empty() || Holds(written, town) || Holds(WithoutAza(written), WithoutAza(town))) return;
    // 本町1丁目 written 本町1-1, 北1条西 written 北1西2: the same town in the short forms.
    const std::u16string chome = TownChome(town);
    if (!chome.empty() && Holds(written, town.substr(0, town.size() - chome.size() - 2))) return;
    if (Holds(Without(written, u"条丁目"), Without(town, u"条丁目"))) return;
    why.Add(Holds(VariantForm(written), VariantForm(town)) ? Reason::VariantKanji : Reason::TownSpelling);
}

std::u16string Trimmed(std::u16string_view text)
{
    std::u16string t = Nfkc(text);
    const auto blank = [](char16_t c) { return c == u' '; };
    while (!t.empty() && blank(t.back())) t.pop_back();
    std::size_t begin = 0;
    while (begin < t.size() && blank(t[begin])) ++begin;
    return t.substr(begin);
}

// The parts of an answer found as an address and its reasons; the count of area entries that
// were rivals for the answer (1 when its note or building decided).
std::size_t AddressAnswer(const Finder& finder, std::u16string_view typed, const FindResult& r, const Entry* e,
                          AddressParts& parts, bool& townHoldsChome, ReasonSet& why)
{
    std::size_t areas = r.total;
    std::optional<AddressMatch> m;
    // The resolver reads the text again as the finder did, for what the answer does not carry:
    // the house number as read, the town in name form, the area entries among the candidates.
    const Query query = Query::Read(typed);
    if (finder.HasAddresses()) m = finder.Addresses().Resolve(query.address);
    if (m) {
        areas = m->entries.size();
        const std::u16string townChome = r.level >= AddressLevel::Town ? TownChome(m->town) : std::u16string();
        townHoldsChome = !townChome.empty();
        SplitNumber(m->number, townChome, parts);
    }
    if (e && e->hasNote && e->noteKind == NoteKind::Floor) {
        // The directory's building: its name and floor as it writes them, a room from the text.
        AddressParts written;
        SplitTail(typed, written);
        parts.building = Nfkc(e->building);
        parts.floor = FloorOfEntry(e->floor);
        if (parts.floor.empty()) parts.floor = written.floor;
        parts.room = written.room;
    } else if (r.level == AddressLevel::Number || parts.HasNumber()) {
        SplitTail(r.rest, parts);
    } else {
        parts.rest = Trimmed(r.rest);
    }

    if (!e) {
        if (r.level == AddressLevel::City) why.Add(m && !m->cityCode ? Reason::WardUnknown : Reason::TownNotFound);
        return areas;
    }
    if (IsRestOfCity(*e)) why.Add(Reason::CityCatchAll);
    if (m && r.total > areas) why.Add(Reason::OfficesAtAddress);
    if (!e->IsOffice()) CompareWritten(query.address, *e, r.level, why);
    // An entry whose note (or building) took the number or name written was chosen over the
    // others for it: they are the fallbacks, not rivals.
    bool decided = false;
    if (e->hasNote) {
        switch (e->noteKind) {
        case NoteKind::NumberFirst: why.Add(Reason::NumberAfterCity); break;
        case NoteKind::WholeCity: why.Add(Reason::WholeCity); break;
        case NoteKind::Floor:
            why.Add(Reason::BuildingMatched);
            decided = true;
            break;
        case NoteKind::Numbers: case NoteKind::Streets: case NoteKind::SubAreas: case NoteKind::Mixed:
            if (r.level == AddressLevel::Number) {
                why.Add(Reason::NoteMatched);
                decided = true;
            }
            break;
        default: break;
        }
    }
    return decided ? 1 : areas;
}

Confidence Judge(const BatchAnswer& a, FindMatch match, AddressLevel level)
{
    const ReasonSet& why = a.reasons;
    if (a.postalCode.empty()) return Confidence::Low;
    for (const Reason doubt : {Reason::CityCatchAll, Reason::TownNotFound, Reason::WardUnknown, Reason::PostalPrefix, Reason::Lookalike})
        if (why.Has(doubt)) return Confidence::Low;
    if (a.textUsed < 50) return Confidence::Low;
    const bool placed = match == FindMatch::Postal || (match == FindMatch::Address && level >= AddressLevel::Town)
                        || why.Has(Reason::NumberAfterCity) || why.Has(Reason::WholeCity);
    // A code written beside the address that disagrees puts the row in doubt, not the address.
    bool doubt = false;
    for (const Reason r : why.List()) doubt = doubt || (Info(r).review && r != Reason::CodeMismatch && r != Reason::CodeUnreadable);
    return placed && a.textUsed == 100 && !doubt ? Confidence::High : Confidence::Medium;
}

void CheckWrittenCode(const BatchLine& line, BatchAnswer& a)
{
    bool readable = true;
    const std::u16string digits = WrittenCodeDigits(line.writtenCode, readable);
    if (!readable) {
        a.codeCheck = "unreadable";
        a.reasons.Add(Reason::CodeUnreadable);
    } else if (!digits.empty() && a.Found()) {
        a.writtenCode = ToUtf8(digits);
        a.codeCheck = ToUtf8(digits) == a.postalCode ? "same" : "differs";
        if (a.codeCheck == "differs") a.reasons.Add(Reason::CodeMismatch);
    }
}

void Describe(const Finder& finder, const BatchLine& line, const FindResult& r, BatchAnswer& a)
{
    const Entry* e = r.results.empty() ? nullptr : &r.results.front();
    ReasonSet& why = a.reasons;
    why.AddEngine(r.reasons);
    AddressParts parts;
    bool townHoldsChome = false;
    std::size_t candidates = r.total;
    switch (r.match) {
    case FindMatch::Postal:
        why.Add(Reason::PostalCode);
        if (PostalKeyDigits(line.query).size() < 7) why.Add(Reason::PostalPrefix);
        else if (r.total > 1) why.Add(Reason::CodeManyTowns);
        candidates = 1;
        break;
    case FindMatch::Reading: why.Add(Reason::Reading); break;
    case FindMatch::Text:
        why.Add(Reason::NameText);
        if (e && e->IsOffice()) why.Add(Reason::OfficeName);
        break;
    case FindMatch::Address: candidates = AddressAnswer(finder, line.query, r, e, parts, townHoldsChome, why); break;
    }
    if (!e) why.Add(Reason::NotFound);
    if (candidates > 1 && e) why.Add(Reason::SeveralCandidates);
    if (e && e->kind == EntryKind::Office) why.Add(Reason::OfficeCode);
    if (e && e->kind == EntryKind::PoBox) why.Add(Reason::PoBox);
    if (!parts.rest.empty()) why.Add(Reason::TextUnused);
    if (const std::u16string before = CodeBefore(line.query); !before.empty() && r.match == FindMatch::Address) {
        why.Add(Reason::CodeBeforeAddress);
        if (e) a.writtenCode = ToUtf8(before);
        if (e && before != e->postalCode) why.Add(Reason::CodeMismatch);
    }

    if (e) {
        a.prefecture = ToUtf8(e->prefecture);
        a.city = ToUtf8(e->city);
        a.town = ToUtf8(e->TownProper());
        a.normalized = ToUtf8(NormalizedAddress(*e, parts, townHoldsChome));
    }
    a.chome = ToUtf8(parts.chome);
    a.banchi = ToUtf8(parts.banchi);
    a.go = ToUtf8(parts.go);
    a.building = ToUtf8(parts.building);
    a.floor = ToUtf8(parts.floor);
    a.room = ToUtf8(parts.room);
    a.rest = ToUtf8(parts.rest);
    const std::size_t written = Visible(line.query);
    const std::size_t unused = std::min(written, Visible(parts.rest));
    a.textUsed = !e || written == 0 ? 0 : static_cast<int>((written - unused) * 100 / written);
    a.confidence = Judge(a, r.match, r.level);
}

} // namespace

const char* ConfidenceName(Confidence c)
{
    switch (c) {
    case Confidence::None: return "";
    case Confidence::Low: return "low";
    case Confidence::Medium: return "medium";
    case Confidence::High: return "high";
    }
    return "";
}

BatchAnswer AnswerBatchLine(const Finder& finder, const BatchLine& line, const Finder* older)
{
    BatchAnswer a;
    a.review = true; // until the answer says otherwise
    if (!line.error.empty()) {
        a.error = line.error;
        return a;
    }
    if (Blank(line.query)) {
        a.empty = true;
        return a;
    }
    try {
        const FindResult r = finder.Best(line.query);
        a.match = FindMatchName(r.match);
        if (r.match == FindMatch::Address) a.level = AddressLevelName(r.level);
        a.candidates = r.total;
        if (!r.results.empty()) {
            a.postalCode = ToUtf8(r.results[0].postalCode);
            a.address = ToUtf8(CleanAddress(r.results[0]));
        }
        Describe(finder, line, r, a);
        if (line.codeGiven) CheckWrittenCode(line, a);
        if (older) {
            const FindResult before = older->Best(line.query);
            const std::string code = before.results.empty() ? std::string() : ToUtf8(before.results[0].postalCode);
            if (code != a.postalCode) {
                a.changed = true;
                a.previousCode = code;
                a.reasons.Add(Reason::CodeChanged);
            }
        }
        a.review = a.confidence == Confidence::Low || a.reasons.NeedsReview();
    } catch (const QueryError& e) {
        a = BatchAnswer();
        a.review = true;
        a.error = e.fault() == QueryFault::TooLong ? batch_message::kTooLong : batch_message::kControl;
    }
    return a;
}

const std::vector<std::string> kBatchColumns = {
    "postal_code", "prefecture", "city", "town", "chome", "banchi", "go", "building", "floor", "room", "rest",
    "normalized_address", "match", "level", "reasons", "reason_texts", "candidates", "text_used", "confidence",
    "review", "code_check", "previous_code", "error",
};

std::vector<std::string> BatchColumnValues(const BatchAnswer& a)
{
    const bool asked = a.error.empty() && !a.empty;
    return {a.postalCode, a.prefecture, a.city, a.town, a.chome, a.banchi, a.go, a.building, a.floor, a.room, a.rest,
            a.normalized, a.match, a.level, a.reasons.Codes(), a.reasons.Texts(),
            asked ? std::to_string(a.candidates) : std::string(), asked ? std::to_string(a.textUsed) : std::string(),
            ConfidenceName(a.confidence), a.review ? "yes" : "no", a.codeCheck, a.previousCode, a.error};
}

nlohmann::ordered_json BatchAnswerJson(const BatchLine& line, const BatchAnswer& a)
{
    nlohmann::ordered_json j;
    j["line"] = line.number;
    j["input"] = line.input;
    if (!a.error.empty()) {
        j["error"] = a.error;
        j["review"] = true;
        return j;
    }
    j["postal_code"] = a.postalCode;
    j["match"] = a.match;
    j["level"] = a.level;
    j["address"] = a.address;
    j["candidates"] = a.candidates;
    j["prefecture"] = a.prefecture;
    j["city"] = a.city;
    j["town"] = a.town;
    j["chome"] = a.chome;
    j["banchi"] = a.banchi;
    j["go"] = a.go;
    j["building"] = a.building;
    j["floor"] = a.floor;
    j["room"] = a.room;
    j["rest"] = a.rest;
    j["normalized_address"] = a.normalized;
    j["reasons"] = nlohmann::ordered_json::array();
    for (const Reason r : a.reasons.List()) j["reasons"].push_back({{"code", Info(r).code}, {"text", Info(r).text}});
    j["text_used"] = a.textUsed;
    j["confidence"] = ConfidenceName(a.confidence);
    j["review"] = a.review;
    j["code_check"] = a.codeCheck;
    j["previous_code"] = a.previousCode;
    return j;
}

} // namespace ubin
