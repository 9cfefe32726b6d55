#include "form/search.h"

#include "base/kana.h"
#include "base/text.h"

#include <algorithm>

namespace ubin {

namespace el = element;

namespace {

constexpr std::u16string_view kZeros = u"0000";

bool StartsWith(std::u16string_view text, std::u16string_view head)
{
    return text.substr(0, head.size()) == head;
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

Search::Search(SearchFace& face, const Lookup& lookup, const ClipFlags& clipFlags, FormHooks hooks)
    : face_(face), lookup_(lookup), records_(lookup), clipFlags_(clipFlags), hooks_(std::move(hooks))
{
}

void Search::Start()
{
    searchMode_ = kModePostal;
    ClearSearch();
}

void Search::DirectoryReplaced()
{
    candPos_ = 0;
    officeShown_ = false;
    DisablePaging();
    cityItems_.clear();
    townItems_.clear();
    detailItems_.clear();
    for (const auto list : {el::kCombo2, el::kCombo3, el::kCombo4}) face_.ClearItems(list);
}

// --- lookups and display ------------------------------------------------------------------

FirstMatch Search::FindFirstMatch(int index, std::u16string_view key, std::int32_t low, std::int32_t high)
{
    return records_.FindFirst(static_cast<KeyIndex>(index), key, low, high);
}

void Search::ShowPostalEntry(std::int32_t entryNumber)
{
    if (entryNumber == 0) return;
    ShowPostalLine(lookup_.ReadEntry(entryNumber));
}

void Search::ShowPostalLine(const Entry& entry)
{
    officeShown_ = false;
    const CityText city = LookupCity(entry);
    const ResultRecord record{entry.postalCode, entry.cityCode, city.name, entry.town, city.kana + entry.townKana,
                              entry.detail};
    ShowResultFields(record);
    if (hooks_.postalResultShown) hooks_.postalResultShown(record);
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
    AfterResult();
}

CityText Search::LookupCity(const Entry& entry) const
{
    switch (entry.cityStatus) {
    case CityStatus::BadCode: return {std::u16string(kBadCityCodeText), {}};
    case CityStatus::NoSuchCity: return {std::u16string(kNoSuchCityText), {}};
    case CityStatus::Found: break;
    }
    if (IsOn(clipFlags_, kAddPrefecture)) return {entry.prefecture + entry.city, entry.prefectureKana + entry.cityKana};
    return {entry.city, entry.cityKana};
}

void Search::ShowCityLine(const AreaLine& line)
{
    officeShown_ = false;
    const AreaLine shown = lookup_.WithPrefecture(line);
    face_.SetText(el::kIT6, shown.areaCode);
    face_.SetText(el::kIT3, shown.name);
    face_.SetText(el::kIT5, shown.kana);
    AfterResult();
}

void Search::ShowOffice(const Entry& office)
{
    candPos_ = 0;
    ShowResultFields(ResultRecord{office.postalCode, office.cityCode, office.city, office.town + office.street,
                                  office.officeKana, office.office});
    DisablePaging();
    officeShown_ = true;
}

bool Search::ShowOfficeOf(std::u16string_view key)
{
    // The form shows an office only for a whole code: a code's beginning pages through areas.
    if (key.size() != 7) return false;
    const std::vector<Entry> found = lookup_.FindPostalEntries(key, {.offices = true, .limit = 1});
    if (found.empty() || !found.front().IsOffice()) return false;
    ShowOffice(found.front());
    return true;
}

void Search::AfterResult()
{
    if (hooks_.resultShown) hooks_.resultShown();
}

void Search::ShowNotFound()
{
    ClearResult();
    ClearAreaText();
    face_.SetText(el::kText6, kNotFoundText);
}

void Search::ClearResult()
{
    officeShown_ = false;
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

// --- the mode switch and the window's buttons -------------------------------------------------

void Search::SwitchMode(int mode)
{
    if (mode < kModePostal || mode > kModeArea) return;
    face_.SetChecked(el::kOptions[mode - 1], true);
    searchMode_ = static_cast<std::int16_t>(mode);
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
        for (int i = 33; i <= kPrefectureCount; ++i) face_.AddItem(el::kCombo1, *lookup_.PrefectureName(i));
        for (int i = 32; i >= 1; --i) face_.AddItem(el::kCombo1, *lookup_.PrefectureName(i));
        face_.SetEditText(el::kCombo1, u"都道府県");
    }
}

void Search::ApplyModeLayout()
{
    const bool area = searchMode_ == kModeArea;
    face_.SetEnabled(el::kITUbin, !area);
    face_.SetBackColour(el::kITUbin, area ? kColourLightGrey : kColourWhite);
    for (const auto list : el::kCombos) face_.SetBackColour(list, area ? kColourWhite : kColourLightGrey);
    if (!area) face_.SetFocus(el::kITUbin);
}

void Search::Command2_Click()
{
    ClearSearch();
    if (searchMode_ >= kModePostal && searchMode_ <= kModeTownKanji) face_.SetFocus(el::kITUbin);
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
    if (searchMode_ < kModePostal || searchMode_ > kModeTownKanji) return;
    if (hooks_.entryLookupStarting) hooks_.entryLookupStarting();
    candLow_ = 1;
    candHigh_ = records_.RecordCount(static_cast<KeyIndex>(searchMode_));
    const std::u16string text = face_.Text(el::kITUbin);
    switch (searchMode_) {
    case kModePostal: {
        // Three characters as typed (730, 73a) stand for a 3-digit code: four zeros follow.
        std::u16string key16 = PostalKeyDigits(text);
        if (text.size() == 3) key16 += kZeros;
        LookupPostalKey(kModePostal, key16);
        break;
    }
    // Kana typed with an input method (full-width katakana or hiragana) is looked up in the
    // index's half-width form.
    case kModeTownKana: LookupPostalKey(searchMode_, ToHalfWidthKana(text)); break;
    case kModeTownKanji: LookupPostalKey(searchMode_, text); break;
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
    const FirstMatch m = FindFirstMatch(index, key, candLow_, candHigh_);
    if (m.record == 0 || (!m.accepted && hooks_.longKey == FormHooks::LongKey::ShowNotFound)) {
        if (index == kModePostal && ShowOfficeOf(key)) return;
        candPos_ = 0;
        ShowNotFound();
        return;
    }
    candPos_ = m.record;
    ShowPostalEntry(m.entry); // entry 0 (no record accepted) shows nothing
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
    const std::optional<CityMatch> city = lookup_.FindCity(text);
    if (!city) {
        // Nothing, a text that is no number, a negative number or one beyond 32 bits.
        candPos_ = 0;
        return;
    }
    candPos_ = city->code;
    const std::optional<AreaLine>& line = city->line;
    if (!line) {
        ClearSearch();
        face_.SetText(el::kIT6, text);
        face_.SetText(el::kIT5, kNoSuchCityText);
        return;
    }
    ShowCityLine(*line);
    face_.SetEnabled(el::kCommand7, true);
    face_.SetEnabled(el::kCommand8, true);
}

// --- paging -----------------------------------------------------------------------------------

void Search::ShowIndexRecord(int index, std::int32_t record)
{
    ShowPostalEntry(records_.EntryOfRecord(static_cast<KeyIndex>(index), record));
}

void Search::Command7_Click() { Page(-1); }
void Search::Command8_Click() { Page(+1); }

void Search::Page(int direction)
{
    // The candidates are the records of the searched index in its own order, or in the city
    // mode the codes of the city table; paging never re-checks the typed text.
    const std::string_view button = direction < 0 ? el::kCommand7 : el::kCommand8;
    if (officeShown_) {
        // An office has no neighbours: as at an end.
        face_.SetEnabled(button, false);
        face_.Beep();
        return;
    }
    const bool cities = searchMode_ == kModeCity;
    if (!cities && searchMode_ != kModePostal && searchMode_ != kModeTownKana && searchMode_ != kModeTownKanji)
        return;
    Cursor cursor = cities ? Cursor::Cities(candPos_)
                           : Cursor::Records(static_cast<KeyIndex>(searchMode_), candLow_, candHigh_, candPos_);
    const std::optional<Candidate> next = records_.Step(cursor, direction);
    candPos_ = cursor.position;
    if (!next) {
        face_.SetEnabled(button, false);
        face_.Beep();
        return;
    }
    if (cities) ShowCityLine(*next->city);
    else ShowPostalEntry(next->entryNumber);
    // A step forward makes a step back possible again; a step back leaves 次候補 as it was.
    if (direction > 0) face_.SetEnabled(el::kCommand7, true);
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
    std::int32_t pref = 1;
    while (pref <= kPrefectureCount && lookup_.PrefectureName(pref) != chosen) ++pref;
    if (pref <= kPrefectureCount) {
        for (const auto list : {el::kCombo2, el::kCombo3, el::kCombo4}) face_.ClearItems(list);
        ClearResult();
    }
    // The chosen prefecture stands as the heading of the city list.
    face_.SetEditText(el::kCombo2, chosen);
    cityItems_ = lookup_.CitiesOf(pref);
    for (const AreaItem& city : cityItems_) face_.AddItem(el::kCombo2, city.name);
}

void Search::Combo2_Click()
{
    townItems_.clear();
    const std::u16string chosen = face_.EditText(el::kCombo2);
    std::u16string key;
    if (const AreaItem* city = FindItem(cityItems_, chosen)) {
        face_.ClearItems(el::kCombo3);
        face_.ClearItems(el::kCombo4);
        ClearResult();
        key = ZeroPad(5, city->number);
    }
    TownList towns = lookup_.TownsOf(key);
    candPos_ = towns.firstRecord.value_or(0);
    face_.SetEditText(el::kCombo3, chosen);
    townItems_ = std::move(towns.towns);
    for (const AreaItem& town : townItems_) face_.AddItem(el::kCombo3, town.name);
}

void Search::Combo3_Click()
{
    const AreaItem* town = FindItem(townItems_, face_.EditText(el::kCombo3));
    if (!town) return;
    const std::int32_t entryNumber = town->number;
    face_.ClearItems(el::kCombo4);
    ClearResult();
    const Entry entry = lookup_.ReadEntry(entryNumber);
    if (!entry.HasSubAreas()) {
        // A town with a single entry is shown at once.
        ShowPostalLine(entry);
        return;
    }
    detailItems_ = lookup_.SubAreasOf(entry);
    for (const AreaItem& item : detailItems_) face_.AddItem(el::kCombo4, item.name);
    face_.SetEditText(el::kCombo4, detailItems_.front().name);
}

void Search::ComboClick(int list)
{
    switch (list) {
    case 0: Combo1_Click(); break;
    case 1: Combo2_Click(); break;
    case 2: Combo3_Click(); break;
    default: Combo4_Click(); break;
    }
}

void Search::Combo4_Click()
{
    const AreaItem* detail = FindItem(detailItems_, face_.EditText(el::kCombo4));
    if (!detail) return;
    ShowPostalLine(lookup_.ReadEntry(detail->number));
}

// --- lookups for other programs -----------------------------------------------------------------

std::int16_t Search::LinkExecute(std::u16string_view command)
{
    // Only the mode changes; its buttons, texts and layout stay as they are.
    searchMode_ = kModePostal;
    std::u16string key = PostalKeyDigits(command);
    if (key.size() == 3) key += kZeros;
    // Paging after this lookup stays inside the index it searched.
    candLow_ = 1;
    candHigh_ = records_.RecordCount(KeyIndex::Postal);
    const FirstMatch m = FindFirstMatch(kSlotIndex1, key, candLow_, candHigh_);
    if (!m.accepted) {
        if (ShowOfficeOf(key)) return 0;
        candPos_ = 0;
        ShowNotFound();
    } else {
        candPos_ = m.record;
        ShowPostalEntry(m.entry);
    }
    return 0;
}

void Search::Ubin_get_ocx(std::u16string_view request)
{
    searchMode_ = kModePostal;
    if (!face_.IsChecked(el::kOption1)) SwitchMode(kModePostal);
    const std::u16string key = PostalKeyDigits(request);
    candLow_ = 1;
    candHigh_ = records_.RecordCount(KeyIndex::Postal);
    const FirstMatch m = FindFirstMatch(kSlotIndex1, key, candLow_, candHigh_);
    candPos_ = m.record;
    if (m.record == 0) {
        if (!ShowOfficeOf(key)) ShowNotFound();
    } else {
        ShowPostalEntry(m.entry); // entry 0 (no record accepted) shows nothing
    }
}

} // namespace ubin
