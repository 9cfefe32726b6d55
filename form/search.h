#pragma once
// The search form: the system's named operations of the search window and the lookup control
// (the entry box, the paging buttons, the area lists, the mode switch, the result display
// and the result text, the link lookup and the control's programmatic lookup), as a thin layer
// over the lookup engine. Every key search, paging step and area list is an engine call; the
// form decides what to show and shows it through a SearchFace. Its search state is its own.
//
// Directory read failures (a truncated or damaged file) are not handled here: they leave as
// DirectoryError to the program, which reports them.
#include "directory/directory.h"
#include "search/lookup.h"
#include "search/records.h"
#include "form/search_face.h"
#include "settings/settings.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

// What the window and the control do differently around the shared logic.
struct FormHooks {
    // An entry box lookup starts: the window records its position for the settings file.
    std::function<void()> entryLookupStarting;
    // A result is on display (a postal result or a city line): the control raises ClickDisp,
    // then copies the result text when AutoClip is on.
    std::function<void()> resultShown;
    // A postal entry's result is on display, as shown (the window keeps it so that a change of
    // 都道府県付加 reaches it).
    std::function<void(const ResultRecord&)> postalResultShown;
    // The key search met a record but no key begins with the whole typed key (longer than an
    // index key holds): the window shows the not-found text; the control keeps what it shows
    // and enables paging from the record met, as after any entry box lookup.
    enum class LongKey { ShowNotFound, KeepResult } longKey = LongKey::ShowNotFound;
};

class Search {
public:
    // The engine and the clip flags belong to the caller: the window owns them, the controls of
    // one thread share them.
    Search(SearchFace& face, const Lookup& lookup, const ClipFlags& clipFlags, FormHooks hooks = {});
    Search(const Search&) = delete;
    Search& operator=(const Search&) = delete;

    // Start-up of the window and the control: mode 1 and an empty search. The design texts
    // of the prompt and example stay.
    void Start();
    // The directory under the form now holds another build (ubin-build replaced the folder):
    // what was found in the old one names nothing in the new one, so the candidates and the
    // city, town and sub-area lists go (the prefecture list stays); the result on display stays
    // until the next lookup.
    void DirectoryReplaced();

    // --- the search state, as the form holds it ---------------------------------------------------
    std::int16_t searchMode() const { return searchMode_; }
    std::int32_t candLow() const { return candLow_; }   // lowest index record paging may reach
    std::int32_t candHigh() const { return candHigh_; } // highest index record paging may reach
    std::int32_t candPos() const { return candPos_; }   // the candidate on display (a record or a city code)
    const std::vector<AreaItem>& cityItems() const { return cityItems_; }     // Combo2
    const std::vector<AreaItem>& townItems() const { return townItems_; }     // Combo3
    const std::vector<AreaItem>& detailItems() const { return detailItems_; } // Combo4

    // --- lookups and display ----------------------------------------------------------------------
    FirstMatch FindFirstMatch(int index, std::u16string_view key, std::int32_t low, std::int32_t high);
    // Reads postal entry n and shows it. Entry number 0 names no entry: nothing is read or shown.
    void ShowPostalEntry(std::int32_t entryNumber);
    void ShowPostalLine(const Entry& entry);
    void ShowResultFields(const ResultRecord& record);
    CityText LookupCity(const Entry& entry) const;
    void ShowCityLine(const AreaLine& line);
    // An office with a postal code of its own: the code, its city and city code, the town and
    // street part, the name's reading and the name. There are no neighbouring candidates.
    void ShowOffice(const Entry& office);
    void ShowNotFound();
    void ClearResult();
    void ClearAreaText();
    void DisablePaging();
    void ClearSearch();

    // --- the mode switch and the window's buttons -------------------------------------------------
    // A click on option button `mode` (1 to 5): it becomes the selected one, then the mode
    // switch runs (texts, ClearSearch, layout; mode 5 fills the prefecture list).
    void SwitchMode(int mode);
    void ApplyModeLayout();
    void Command2_Click(); // クリア
    void Command1_Click(); // クリップ
    void CopyResultText();

    // --- the entry box ----------------------------------------------------------------------------
    // Acts on Enter only, which it consumes (sets the key to 0); other keys pass unchanged.
    void ITUbin_KeyPress(std::int16_t& key);
    void ITUbin_DblClick();

    // --- paging -----------------------------------------------------------------------------------
    void Command7_Click(); // 前候補
    void Command8_Click(); // 次候補
    void ShowIndexRecord(int index, std::int32_t record);

    // --- the area lists ---------------------------------------------------------------------------
    void Combo1_KeyPress(std::int16_t& key);
    void Combo2_KeyPress(std::int16_t& key);
    void Combo3_KeyPress(std::int16_t& key);
    void Combo1_Click();
    void Combo2_Click();
    void Combo3_Click();
    void Combo4_Click();
    // The click of area list `list` in the order of el::kCombos (0: Combo1 ... 3: Combo4).
    void ComboClick(int list);

    // --- lookups for other programs ---------------------------------------------------------------
    // The link service's execute command: a postal code looked up as mode 1 does, without
    // touching the mode buttons, the entry box or the paging buttons. Returns the acceptance
    // flag, always 0 (accepted).
    std::int16_t LinkExecute(std::u16string_view command);
    // The control's programmatic lookup: selects Option1, then looks up the digits of the
    // request as a prefix (no zeros added).
    void Ubin_get_ocx(std::u16string_view request);

    SearchFace& face() { return face_; }
    const Lookup& lookup() const { return lookup_; }
    const ClipFlags& clipFlags() const { return clipFlags_; }

private:
    void LookupPostalKey(int index, const std::u16string& key);
    // Shows the office of a 7-digit code the area index does not hold; false when the office
    // list has none either.
    bool ShowOfficeOf(std::u16string_view key);
    void LookupCityCode();
    // One step of 前候補 (-1) or 次候補 (+1) from the candidate on display.
    void Page(int direction);
    void AfterResult();

    SearchFace& face_;
    const Lookup& lookup_;
    const IndexRecords records_; // the record level the entry box and the buttons page through
    const ClipFlags& clipFlags_;
    FormHooks hooks_;

    std::int16_t searchMode_ = kModePostal;
    std::int32_t candLow_ = 0;
    std::int32_t candHigh_ = 0;
    std::int32_t candPos_ = 0;
    std::vector<AreaItem> cityItems_;
    std::vector<AreaItem> townItems_;
    std::vector<AreaItem> detailItems_;
    bool officeShown_ = false; // paging has nothing to step to
};

} // namespace ubin
