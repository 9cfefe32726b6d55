#include "search/search.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "base/text.h"
#include "directory/keysearch.h"

#include <algorithm>
#include <array>

namespace ubin {

namespace el = element;

namespace {

constexpr std::u16string_view kZeros = u"0000";

// Readers hold 8 fields for a city line in the city-code search and the postal result, 6 when
// paging through cities, 3 in the city list.
constexpr int kCityLookupFields = 8;
constexpr int kCityPagingFields = 6;
constexpr int kCityListFields = 3;

bool StartsWith(std::u16string_view text, std::u16string_view head)
{
    return text.substr(0, head.size()) == head;
}

bool HasCp932Form(std::u16string_view text)
{
    try {
        for (const char16_t c : text) ShiftJisCode(c);
        return true;
    } catch (const EncodingError&) {
        return false;
    }
}

std::int32_t Value32(std::u16string_view text)
{
    std::int32_t v = 0;
    return NumericValue32(text, v) ? v : 0;
}

struct ModeTexts {
    std::u16string_view prompt, example;
};

// The prompt and example texts of modes 1 to 4.
constexpr ModeTexts kModeTexts[4] = {
    {u"郵便番号", u"730-0014 / 730"},
    {u"都市ｺｰﾄﾞ", u"34101 / 34"},
    {u"町／字", u"ｶﾐﾉﾎﾞﾘﾏﾁ / ｷﾞﾝｻﾞ"},
    {u"町／字", u"上幟町 / 銀座"},
};

} // namespace

std::u16string PostalKeyDigits(std::u16string_view text)
{
    std::u16string digits;
    for (char16_t c : text) {
        if (c >= u'０' && c <= u'９') c = static_cast<char16_t>(u'0' + (c - u'０'));
        if (c >= u'0' && c <= u'9') digits.push_back(c);
    }
    return digits;
}

Search::Search(SearchFace& face, DirectoryState& directory, const ClipFlags& clipFlags)
    : face_(face), dir_(directory), clipFlags_(clipFlags)
{
}

void Search::Start()
{
    searchMode = kModePostal;
    ClearSearch();
}

// --- lookups and display ------------------------------------------------------------------

FirstMatch Search::FindFirstMatch(int index, std::u16string_view key, std::int32_t low, std::int32_t high)
{
    // A character that code page 932 cannot hold begins no index key.
    if (!HasCp932Form(key)) return {};
    // The key search meets some record of the run of keys that begin with `key`; the walk
    // goes down to the lowest.
    const FirstKeyMatch k = FindFirstKey(dir_, index, low, high, key);
    return {k.record, k.entry, k.accepted};
}

void Search::ShowPostalEntry(std::int32_t entryNumber)
{
    if (entryNumber == 0) return;
    ShowPostalLine(ReadPostalLine(entryNumber));
}

void Search::ShowPostalLine(const std::vector<std::u16string>& fields)
{
    const CityText city = LookupCity(fields[2]);
    ShowResultFields(ResultRecord{fields[1], fields[2], city.name, fields[4], city.kana + fields[3], fields[5]});
}

void Search::ShowResultFields(const ResultRecord& record)
{
    const std::u16string_view code = record.postalCode;
    face_.SetText(el::kIT1, code.substr(0, 3));
    face_.SetText(el::kIT2, code.size() > 4 ? code.substr(code.size() - 4) : code);
    face_.SetText(el::kIT6, record.cityCode);
    face_.SetText(el::kIT3, record.cityName);
    face_.SetText(el::kIT4, record.townName);
    face_.SetText(el::kIT5, record.kana);
    face_.SetText(el::kText6, record.detail);
}

CityText Search::LookupCity(std::u16string_view cityCode)
{
    // The city table is addressed by the code itself, so its size bounds the valid codes.
    std::int32_t n = 0;
    if (!NumericValue32(cityCode, n) || n < 1 || n > dir_.cityTableSize)
        return {std::u16string(kBadCityCodeText), {}};
    const std::int32_t position = CityPosition(n);
    if (position == 0) return {std::u16string(kNoSuchCityText), {}};
    std::vector<std::u16string> f = ReadCityLine(position, kCityLookupFields);
    if (IsOn(clipFlags_, kAddPrefecture)) PrefixPrefecture(f, f[1]);
    return {f[2], f[3]};
}

void Search::PrefixPrefecture(std::vector<std::u16string>& fields, std::u16string_view code)
{
    // The prefecture number is the first two digits of the 5-digit city code. A number that
    // names no prefecture adds nothing.
    const std::int32_t i = Value32(code.substr(0, 2));
    if (i < 1 || i > kPrefectureCount) return;
    const auto k = static_cast<std::size_t>(i);
    fields[2] = dir_.prefNames[k] + fields[2];
    fields[3] = dir_.prefKana[k] + fields[3];
}

void Search::ShowCityLine(std::vector<std::u16string> fields)
{
    // Prefecture lines (codes 1 to 47) and codes ending in 000 are shown as stored; every
    // city gets its prefecture in front, whatever the clip flags say.
    const std::u16string_view code = fields[1];
    if (NumericValue(code) > 50 && NumericValue(code.size() > 2 ? code.substr(2) : std::u16string_view()) != 0)
        PrefixPrefecture(fields, code);
    face_.SetText(el::kIT6, fields[1]);
    face_.SetText(el::kIT3, fields[2]);
    face_.SetText(el::kIT5, fields[3]);
}

void Search::ShowNotFound()
{
    ClearResult();
    ClearAreaText();
    face_.SetText(el::kText6, kNotFoundText);
}

void Search::ClearResult()
{
    for (const auto name : {el::kLabel9, el::kIT6, el::kIT1, el::kIT2, el::kIT3, el::kIT4, el::kIT5, el::kText6})
        face_.SetText(name, u"");
}

void Search::ClearAreaText()
{
    for (const auto list : el::kCombos) face_.SetEditText(list, u"");
}

void Search::DisablePaging()
{
    face_.SetEnabled(el::kCommand7, false);
    face_.SetEnabled(el::kCommand8, false);
}

void Search::ClearSearch()
{
    face_.SetText(el::kITUbin, u"");
    ClearResult();
    DisablePaging();
    ClearAreaText();
}

// --- directory reads ------------------------------------------------------------------------

std::int32_t Search::CityPosition(std::int32_t code)
{
    if (code < 1 || code > dir_.cityTableSize) return 0;
    return dir_.ReadCityPosition(code);
}

std::vector<std::u16string> Search::ReadCityLine(std::int32_t position, int capacity)
{
    std::vector<std::u16string> f(static_cast<std::size_t>(capacity) + 1);
    dir_.ReadFieldsAt(kSlotCityLines, position, f);
    // A code whose first digit is 0 may be stored with 4 digits.
    if (f[1].size() == 4) f[1].insert(0, 1, u'0');
    return f;
}

std::vector<std::u16string> Search::ReadPostalLine(std::int32_t entryNumber)
{
    std::vector<std::u16string> f(kDirectoryLineFields + 1);
    dir_.ReadPostalEntry(entryNumber, f);
    return f;
}

std::int32_t Search::IndexRecordCount(int index) { return dir_.RecordCount(index); }

void Search::ShowCityAt(std::int32_t position)
{
    ShowCityLine(ReadCityLine(position, kCityLookupFields));
}

// --- the mode switch and the window's buttons -------------------------------------------------

void Search::SwitchMode(int mode)
{
    if (mode < kModePostal || mode > kModeArea) return;
    face_.SetChecked(el::kOptions[mode - 1], true);
    searchMode = static_cast<std::int16_t>(mode);
    ClearSearch();
    if (mode != kModeArea) {
        face_.SetText(el::kLabel1, kModeTexts[mode - 1].prompt);
        face_.SetText(el::kLabel5, kModeTexts[mode - 1].example);
    }
    ApplyModeLayout();
    if (mode == kModeArea) {
        // Prefectures 33 to 47, then 32 down to 1. The list is emptied first so that a
        // second switch to this mode does not list them twice.
        face_.ClearItems(el::kCombo1);
        for (int i = 33; i <= kPrefectureCount; ++i) face_.AddItem(el::kCombo1, dir_.prefNames[static_cast<std::size_t>(i)]);
        for (int i = 32; i >= 1; --i) face_.AddItem(el::kCombo1, dir_.prefNames[static_cast<std::size_t>(i)]);
        face_.SetEditText(el::kCombo1, u"都道府県");
    }
}

void Search::ApplyModeLayout()
{
    const bool area = searchMode == kModeArea;
    face_.SetEnabled(el::kITUbin, !area);
    face_.SetBackColour(el::kITUbin, area ? kColourLightGrey : kColourWhite);
    for (const auto list : el::kCombos) face_.SetBackColour(list, area ? kColourWhite : kColourLightGrey);
    if (!area) face_.SetFocus(el::kITUbin);
}

void Search::Command2_Click()
{
    ClearSearch();
    if (searchMode >= kModePostal && searchMode <= kModeTownKanji) face_.SetFocus(el::kITUbin);
}

void Search::Command1_Click() { CopyResultText(); }

void Search::CopyResultText()
{
    std::u16string t;
    const auto comma = [&t] {
        if (!t.empty()) t += u',';
    };
    if (IsOn(clipFlags_, kClipPostalCode)) t = face_.Text(el::kIT1) + u"-" + face_.Text(el::kIT2);
    if (IsOn(clipFlags_, kClipAddress1)) {
        comma();
        t += FirstWord(face_.Text(el::kIT3));
    }
    if (IsOn(clipFlags_, kClipAddress2)) {
        // The comma comes first, so a town that is left out leaves an empty field.
        comma();
        const std::u16string town = face_.Text(el::kIT4);
        if (!StartsWith(town, u"以下に") && !StartsWith(town, u"一円")) {
            t += u' ';
            t += FirstWord(town);
        }
    }
    if (IsOn(clipFlags_, kClipKana)) {
        comma();
        t += FirstWord(face_.Text(el::kIT5));
    }
    if (IsOn(clipFlags_, kClipCityCode)) {
        comma();
        t += FirstWord(face_.Text(el::kIT6));
    }
    face_.SetClipboardText(t);
}

// --- the entry box ----------------------------------------------------------------------------

void Search::ITUbin_KeyPress(std::int16_t& key)
{
    if (key != kKeyEnter) return;
    key = 0;
    // The entry box is disabled in the area mode, so no lookup runs there.
    if (searchMode < kModePostal || searchMode > kModeTownKanji) return;
    CaptureWindowPosition();
    candLow = 1;
    candHigh = IndexRecordCount(searchMode);
    const std::u16string text = face_.Text(el::kITUbin);
    switch (searchMode) {
    case kModePostal: {
        // Three characters as typed (730, 73a) stand for a 3-digit code: four zeros follow.
        std::u16string key16 = PostalKeyDigits(text);
        if (text.size() == 3) key16 += kZeros;
        LookupPostalKey(kModePostal, key16);
        break;
    }
    case kModeTownKana:
    case kModeTownKanji: LookupPostalKey(searchMode, text); break;
    case kModeCity: LookupCityCode(); break;
    default: break;
    }
}

void Search::ITUbin_DblClick()
{
    std::int16_t key = kKeyEnter;
    ITUbin_KeyPress(key);
}

void Search::LookupPostalKey(int index, const std::u16string& key)
{
    const FirstMatch m = FindFirstMatch(index, key, candLow, candHigh);
    if (m.record == 0 || (!m.accepted && unacceptedKeyShowsNotFound)) {
        candPos = 0;
        ShowNotFound();
        return;
    }
    candPos = m.record;
    ShowPostalEntry(m.entry);
    face_.SetEnabled(el::kCommand7, true);
    face_.SetEnabled(el::kCommand8, true);
}

void Search::LookupCityCode()
{
    std::u16string text = face_.Text(el::kITUbin);
    if (text.size() == 4) {
        // 1101 is the code 01101.
        text.insert(0, 1, u'0');
        face_.SetText(el::kITUbin, text);
    }
    std::int32_t n = 0;
    if (!NumericValue32(text, n) || n <= 0) {
        // Nothing, a text that is no number, a negative number or one beyond 32 bits.
        candPos = 0;
        return;
    }
    candPos = n;
    const std::int32_t position = CityPosition(n);
    if (position == 0) {
        ClearSearch();
        face_.SetText(el::kIT6, text);
        face_.SetText(el::kIT5, kNoSuchCityText);
        return;
    }
    ShowCityAt(position);
    face_.SetEnabled(el::kCommand7, true);
    face_.SetEnabled(el::kCommand8, true);
}

// --- paging -----------------------------------------------------------------------------------

void Search::ShowIndexRecord(int index, std::int32_t record)
{
    ShowPostalEntry(dir_.ReadIndexRecord(index, record).entryNumber);
}

void Search::Command7_Click()
{
    if (searchMode == kModeCity) {
        // Codes without a city are passed over for good; those beyond the table's end at once
        // (the test comes first, so a table of 2^31 - 1 records does not overflow).
        if (candPos > dir_.cityTableSize) candPos = dir_.cityTableSize + 1;
        while (true) {
            if (candPos <= 1) {
                face_.SetEnabled(el::kCommand7, false);
                face_.Beep();
                return;
            }
            --candPos;
            const std::int32_t position = CityPosition(candPos);
            if (position == 0) continue;
            ShowCityLine(ReadCityLine(position, kCityPagingFields));
            return;
        }
    }
    if (searchMode != kModePostal && searchMode != kModeTownKana && searchMode != kModeTownKanji) return;
    if (candPos > candLow) {
        --candPos;
        ShowIndexRecord(searchMode, candPos);
    } else {
        face_.SetEnabled(el::kCommand7, false);
        face_.Beep();
    }
}

void Search::Command8_Click()
{
    if (searchMode == kModeCity) {
        candPos = std::max(candPos, 0);
        while (true) {
            if (candPos >= dir_.cityTableSize) {
                face_.SetEnabled(el::kCommand8, false);
                face_.Beep();
                return;
            }
            ++candPos;
            const std::int32_t position = CityPosition(candPos);
            if (position == 0) continue;
            ShowCityLine(ReadCityLine(position, kCityPagingFields));
            face_.SetEnabled(el::kCommand7, true);
            return;
        }
    }
    if (searchMode != kModePostal && searchMode != kModeTownKana && searchMode != kModeTownKanji) return;
    if (candPos < candHigh) {
        ++candPos;
        ShowIndexRecord(searchMode, candPos);
        face_.SetEnabled(el::kCommand7, true);
    } else {
        face_.SetEnabled(el::kCommand8, false);
        face_.Beep();
    }
}

// --- the area lists ---------------------------------------------------------------------------

namespace {

void EnterMovesFocus(SearchFace& face, std::int16_t& key, std::string_view next)
{
    if (key != kKeyEnter) return;
    key = 0;
    face.SetFocus(next);
}

const AreaItem* FindItem(const std::vector<AreaItem>& items, std::u16string_view name)
{
    const auto it = std::find_if(items.begin(), items.end(), [&](const AreaItem& a) { return a.name == name; });
    return it == items.end() ? nullptr : &*it;
}

} // namespace

void Search::Combo1_KeyPress(std::int16_t& key) { EnterMovesFocus(face_, key, el::kCombo2); }
void Search::Combo2_KeyPress(std::int16_t& key) { EnterMovesFocus(face_, key, el::kCombo3); }
void Search::Combo3_KeyPress(std::int16_t& key) { EnterMovesFocus(face_, key, el::kCombo4); }

void Search::Combo1_Click()
{
    const std::u16string chosen = face_.EditText(el::kCombo1);
    int pref = 1;
    while (pref <= kPrefectureCount && dir_.prefNames[static_cast<std::size_t>(pref)] != chosen) ++pref;
    std::u16string key = u"00";
    if (pref <= kPrefectureCount) {
        for (const auto list : {el::kCombo2, el::kCombo3, el::kCombo4}) face_.ClearItems(list);
        ClearResult();
        key = ZeroPad(2, pref);
    }
    // The chosen prefecture stands as the heading of the city list.
    face_.SetEditText(el::kCombo2, chosen);
    cityItems.clear();
    // The prefecture's cities follow its number in the city table, in code order; codes
    // without a city are skipped, and the first city of another prefecture ends the list.
    for (std::int32_t code = pref * 1000 + 1; code <= dir_.cityTableSize; ++code) {
        const std::int32_t position = CityPosition(code);
        if (position == 0) continue;
        const std::vector<std::u16string> f = ReadCityLine(position, kCityListFields);
        if (std::u16string_view(f[1]).substr(0, 2) != key) break;
        cityItems.push_back({FirstWord(f[2]), code});
        face_.AddItem(el::kCombo2, cityItems.back().name);
    }
}

void Search::Combo2_Click()
{
    townItems.clear();
    const std::u16string chosen = face_.EditText(el::kCombo2);
    std::u16string key;
    if (const AreaItem* city = FindItem(cityItems, chosen)) {
        face_.ClearItems(el::kCombo3);
        face_.ClearItems(el::kCombo4);
        ClearResult();
        key = ZeroPad(5, city->number);
    }
    const std::int32_t count = IndexRecordCount(kSlotIndex2);
    const FirstMatch m = FindFirstMatch(kSlotIndex2, key, 1, count);
    candPos = m.record;
    face_.SetEditText(el::kCombo3, chosen);
    if (!m.accepted || key.empty()) return;
    // The city's entries lie together in the city-code index.
    for (std::int32_t t = m.record; t <= count; ++t) {
        const IndexRecord rec = dir_.ReadIndexRecord(kSlotIndex2, t);
        if (std::u16string_view(rec.key).substr(0, 5) != key) break;
        const std::vector<std::u16string> f = ReadPostalLine(rec.entryNumber);
        if (std::u16string_view(f[2]).substr(0, 5) != key) break;
        townItems.push_back({FirstWord(f[4]), rec.entryNumber});
        face_.AddItem(el::kCombo3, townItems.back().name);
    }
}

void Search::Combo3_Click()
{
    const AreaItem* town = FindItem(townItems, face_.EditText(el::kCombo3));
    if (!town) return;
    const std::int32_t entry = town->number;
    face_.ClearItems(el::kCombo4);
    ClearResult();
    const std::vector<std::u16string> line = ReadPostalLine(entry);
    if (line[6] == u"0") {
        // A town with a single entry is shown at once.
        ShowPostalLine(line);
        return;
    }
    // The town's sub-areas are the run of neighbouring entries of the same city with the
    // same whole town name.
    const std::u16string& townName = line[4];
    const std::u16string& cityCode = line[2];
    const auto sameTown = [&](const std::vector<std::u16string>& f) { return f[4] == townName && f[2] == cityCode; };
    std::vector<AreaItem> below;
    for (std::int32_t r = entry - 1; r >= 1; --r) {
        const std::vector<std::u16string> f = ReadPostalLine(r);
        if (!sameTown(f)) break;
        below.push_back({FirstWord(f[5]), r});
    }
    detailItems.assign(below.rbegin(), below.rend());
    detailItems.push_back({FirstWord(line[5]), entry});
    for (std::int32_t r = entry + 1; r <= dir_.entryCount; ++r) {
        const std::vector<std::u16string> f = ReadPostalLine(r);
        if (!sameTown(f)) break;
        detailItems.push_back({FirstWord(f[5]), r});
    }
    for (const AreaItem& item : detailItems) face_.AddItem(el::kCombo4, item.name);
    face_.SetEditText(el::kCombo4, detailItems.front().name);
}

void Search::Combo4_Click()
{
    const AreaItem* detail = FindItem(detailItems, face_.EditText(el::kCombo4));
    if (!detail) return;
    ShowPostalLine(ReadPostalLine(detail->number));
}

// --- lookups for other programs -----------------------------------------------------------------

std::int16_t Search::LinkExecute(std::u16string_view command)
{
    // Only the mode changes; its buttons, texts and layout stay as they are.
    searchMode = kModePostal;
    std::u16string key = PostalKeyDigits(command);
    if (key.size() == 3) key += kZeros;
    // Paging after this lookup stays inside the index it searched.
    candLow = 1;
    candHigh = IndexRecordCount(kSlotIndex1);
    const FirstMatch m = FindFirstMatch(kSlotIndex1, key, candLow, candHigh);
    if (!m.accepted) {
        candPos = 0;
        ShowNotFound();
    } else {
        candPos = m.record;
        ShowPostalEntry(m.entry);
    }
    return 0;
}

void Search::Ubin_get_ocx(std::u16string_view request)
{
    searchMode = kModePostal;
    if (!face_.IsChecked(el::kOption1)) SwitchMode(kModePostal);
    const std::u16string key = PostalKeyDigits(request);
    candLow = 1;
    candHigh = IndexRecordCount(kSlotIndex1);
    const FirstMatch m = FindFirstMatch(kSlotIndex1, key, candLow, candHigh);
    candPos = m.record;
    if (m.record == 0) ShowNotFound();
    else ShowPostalEntry(m.entry); // entry 0 (no record accepted) shows nothing
}

} // namespace ubin
