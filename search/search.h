#pragma once
// The search logic shared by the search window and the lookup control: the five search modes,
// the entry box lookup, paging through candidates, the area lists, the result display and the
// result text, the link lookup and the control's programmatic lookup. It reads the directory
// on demand and talks to the screen only through a SearchFace.
//
// Directory read failures (a truncated or damaged file) are not handled here: they leave as
// DirectoryError to the program, which reports them.
#include "search/search_face.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "directory/directory.h"
#include "settings/settings.h"

namespace ubin {

enum SearchMode : std::int16_t {
    kModePostal = 1,
    kModeCity = 2,
    kModeTownKana = 3,
    kModeTownKanji = 4,
    kModeArea = 5,
};

inline constexpr std::int16_t kKeyEnter = 13;

inline constexpr std::u16string_view kNotFoundText = u"*** 該当するものが見付からない **";
inline constexpr std::u16string_view kNoSuchCityText = u"該当する都市はありません";
inline constexpr std::u16string_view kBadCityCodeText = u"都市コードが不正です";

// One address as shown, field by field.
struct ResultRecord {
    std::u16string postalCode, cityCode, cityName, townName, kana, detail;
};

// The city name and reading that a postal result shows, or a failure text and no reading.
struct CityText {
    std::u16string name, kana;
};

// An item of an area list and what it stands for: a city code (city list) or a postal entry
// number (town and sub-area lists). Item i of the list is entry i of its table.
struct AreaItem {
    std::u16string name;
    std::int32_t number;
};

// The outcome of FindFirstMatch. `record` is the lowest index record whose key begins with the
// search key, and `entry` its postal entry number. When the key search met a record but the
// walk accepted none (a search key longer than an index key holds), `record` is the record the
// key search met, `entry` is 0 and `accepted` is false. Nothing found: all zero.
struct FirstMatch {
    std::int32_t record = 0;
    std::int32_t entry = 0;
    bool accepted = false;
};

// The digits of a postal key: the half-width digits 0-9 in order, full-width digits counting
// as the same digits; every other character is dropped.
std::u16string PostalKeyDigits(std::u16string_view text);

class Search {
public:
    // The directory state and the clip flags belong to the caller: the window owns them, the
    // controls of one thread share them.
    Search(SearchFace& face, DirectoryState& directory, const ClipFlags& clipFlags);
    virtual ~Search() = default;
    Search(const Search&) = delete;
    Search& operator=(const Search&) = delete;

    // --- search state ---------------------------------------------------------------------
    std::int16_t searchMode = kModePostal;
    std::int32_t candLow = 0;  // lowest index record paging may reach
    std::int32_t candHigh = 0; // highest index record paging may reach
    std::int32_t candPos = 0;  // the candidate on display (an index record, or a city code)
    std::vector<AreaItem> cityItems;   // Combo2
    std::vector<AreaItem> townItems;   // Combo3
    std::vector<AreaItem> detailItems; // Combo4

    // The window shows the not-found text when the key search meets a record that the walk
    // does not accept (a key longer than an index key). The control clears this: it then keeps
    // its results as they are, shows nothing, and still enables paging after an entry box
    // lookup.
    bool unacceptedKeyShowsNotFound = true;

    // Start-up of the window and the control: mode 1 and an empty search. The design texts
    // of the prompt and example stay.
    void Start();

    // --- lookups and display ----------------------------------------------------------------
    FirstMatch FindFirstMatch(int index, std::u16string_view key, std::int32_t low, std::int32_t high);
    // Reads postal entry n and shows it. Entry number 0 names no entry: nothing is read or shown.
    virtual void ShowPostalEntry(std::int32_t entryNumber);
    // fields[1..6] of a postal line.
    void ShowPostalLine(const std::vector<std::u16string>& fields);
    virtual void ShowResultFields(const ResultRecord& record);
    CityText LookupCity(std::u16string_view cityCode);
    // fields[1..3] of a city line, its code already completed to 5 digits where it had 4.
    virtual void ShowCityLine(std::vector<std::u16string> fields);
    void ShowNotFound();
    void ClearResult();
    void ClearAreaText();
    void DisablePaging();
    void ClearSearch();

    // --- the mode switch and the window's buttons -------------------------------------------
    // A click on option button `mode` (1 to 5): it becomes the selected one, then the mode
    // switch runs (texts, ClearSearch, layout; mode 5 fills the prefecture list).
    void SwitchMode(int mode);
    void ApplyModeLayout();
    void Command2_Click(); // クリア
    void Command1_Click(); // クリップ
    void CopyResultText();

    // --- the entry box ----------------------------------------------------------------------
    // Acts on Enter only, which it consumes (sets the key to 0); other keys pass unchanged.
    void ITUbin_KeyPress(std::int16_t& key);
    void ITUbin_DblClick();

    // --- paging -----------------------------------------------------------------------------
    void Command7_Click(); // 前候補
    void Command8_Click(); // 次候補
    void ShowIndexRecord(int index, std::int32_t record);

    // --- the area lists ---------------------------------------------------------------------
    void Combo1_KeyPress(std::int16_t& key);
    void Combo2_KeyPress(std::int16_t& key);
    void Combo3_KeyPress(std::int16_t& key);
    void Combo1_Click();
    void Combo2_Click();
    void Combo3_Click();
    void Combo4_Click();

    // --- lookups for other programs ---------------------------------------------------------
    // The link service's execute command: a postal code looked up as mode 1 does, without
    // touching the mode buttons, the entry box or the paging buttons. Returns the acceptance
    // flag, always 0 (accepted).
    std::int16_t LinkExecute(std::u16string_view command);
    // The control's programmatic lookup: selects Option1, then looks up the digits of the
    // request as a prefix (no zeros added).
    void Ubin_get_ocx(std::u16string_view request);

    SearchFace& face() { return face_; }
    DirectoryState& directory() { return dir_; }
    const ClipFlags& clipFlags() const { return clipFlags_; }

protected:
    // Called as an entry box lookup starts: the window stores its current position for the
    // settings file here. The control keeps the loaded position and does not override it.
    virtual void CaptureWindowPosition() {}

private:
    void LookupPostalKey(int index, const std::u16string& key);
    void LookupCityCode();
    // The city table record of a code, or 0 for a code outside the table.
    std::int32_t CityPosition(std::int32_t code);
    // The city line at a position of TOSHI2.TDB split into `capacity` fields, its code
    // completed to 5 digits where it had 4.
    std::vector<std::u16string> ReadCityLine(std::int32_t position, int capacity);
    std::vector<std::u16string> ReadPostalLine(std::int32_t entryNumber);
    void PrefixPrefecture(std::vector<std::u16string>& fields, std::u16string_view code);
    void ShowCityAt(std::int32_t position);
    std::int32_t IndexRecordCount(int index);

    SearchFace& face_;
    DirectoryState& dir_;
    const ClipFlags& clipFlags_;
};

} // namespace ubin
