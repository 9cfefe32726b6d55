#pragma once
// What the search logic needs of the screen: the texts of named elements, their enabled
// state and background colour, the focus, the four area lists, the beep and the clipboard.
// The search window and the lookup control implement it over their widgets (found by their
// object names, which are the element names below); the tests and the ubin command use the
// in-memory face.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ubin {

// Element names, as the forms name their widgets.
namespace element {
inline constexpr std::string_view kITUbin = "ITUbin";   // the entry box
inline constexpr std::string_view kIT1 = "IT1";         // postal code, first 3 digits
inline constexpr std::string_view kIT2 = "IT2";         // postal code, last 4 digits
inline constexpr std::string_view kIT3 = "IT3";         // city name
inline constexpr std::string_view kIT4 = "IT4";         // town name
inline constexpr std::string_view kIT5 = "IT5";         // reading
inline constexpr std::string_view kIT6 = "IT6";         // city code
inline constexpr std::string_view kText6 = "Text6";     // region detail or the not-found text
inline constexpr std::string_view kLabel9 = "Label9";   // status label, only ever emptied
inline constexpr std::string_view kLabel1 = "Label1";   // prompt of the entry box
inline constexpr std::string_view kLabel5 = "Label5";   // example entry
inline constexpr std::string_view kCommand7 = "Command7"; // 前候補
inline constexpr std::string_view kCommand8 = "Command8"; // 次候補
inline constexpr std::string_view kCommand1 = "Command1"; // クリップ
inline constexpr std::string_view kCommand2 = "Command2"; // クリア
inline constexpr std::string_view kCombo1 = "Combo1";   // prefecture list
inline constexpr std::string_view kCombo2 = "Combo2";   // city list
inline constexpr std::string_view kCombo3 = "Combo3";   // town list
inline constexpr std::string_view kCombo4 = "Combo4";   // sub-area list
inline constexpr std::string_view kOption1 = "Option1"; // 郵便
inline constexpr std::string_view kOption2 = "Option2"; // 都市
inline constexpr std::string_view kOption3 = "Option3"; // 町域（ｶﾅ）
inline constexpr std::string_view kOption4 = "Option4"; // 町域（漢字）
inline constexpr std::string_view kOption5 = "Option5"; // 選択検索

inline constexpr std::string_view kCombos[4] = {kCombo1, kCombo2, kCombo3, kCombo4};
// Option button n (1 to 5) selects search mode n.
inline constexpr std::string_view kOptions[5] = {kOption1, kOption2, kOption3, kOption4, kOption5};
} // namespace element

// Colours are 0x00BBGGRR; 0x800000nn names the platform's system colour nn.
inline constexpr std::uint32_t kColourLightGrey = 0xC0C0C0; // 12632256: the part not in use
inline constexpr std::uint32_t kColourWhite = 0xFFFFFF;     // the part in use

class SearchFace {
public:
    // Told of every text the logic writes: element texts and the edit texts of the lists.
    using TextObserver = std::function<void(std::string_view element, std::u16string_view text)>;

    virtual ~SearchFace() = default;

    // The caption of a label or button, the content of a text box. Every write goes through
    // here, so an observer (the link service) sees each change.
    void SetText(std::string_view element, std::u16string_view text)
    {
        WriteText(element, text);
        if (observer_) observer_(element, text);
    }
    virtual std::u16string Text(std::string_view element) const = 0;

    virtual void SetEnabled(std::string_view element, bool enabled) = 0;
    virtual bool IsEnabled(std::string_view element) const = 0;
    virtual void SetBackColour(std::string_view element, std::uint32_t colour) = 0;
    // Moves the keyboard focus; a face that cannot take the focus now ignores it quietly.
    virtual void SetFocus(std::string_view element) = 0;

    // Option buttons. Selecting one clears the others; it must not run the mode switch by
    // itself (the logic runs it where a click would).
    virtual void SetChecked(std::string_view option, bool checked) = 0;
    virtual bool IsChecked(std::string_view option) const = 0;

    // The area lists: an edit text and an ordered list of items.
    virtual void ClearItems(std::string_view list) = 0;
    virtual void AddItem(std::string_view list, std::u16string_view item) = 0;
    void SetEditText(std::string_view list, std::u16string_view text)
    {
        WriteEditText(list, text);
        if (observer_) observer_(list, text);
    }
    virtual std::u16string EditText(std::string_view list) const = 0;

    // The system beep.
    virtual void Beep() = 0;
    // Clears the clipboard, then puts the text on it as plain text (also an empty text).
    virtual void SetClipboardText(std::u16string_view text) = 0;

    void SetTextObserver(TextObserver observer) { observer_ = std::move(observer); }

protected:
    virtual void WriteText(std::string_view element, std::u16string_view text) = 0;
    virtual void WriteEditText(std::string_view list, std::u16string_view text) = 0;

private:
    TextObserver observer_;
};

} // namespace ubin
