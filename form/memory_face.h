#pragma once
// A face held in memory: it records every text, enabled flag, colour, the focus, the lists, the
// beeps and the clipboard. The tests and the ubin command drive the search logic on it.
#include "form/search_face.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ubin {

class MemoryFace : public SearchFace {
public:
    // Every element starts with its design caption, enabled, Option1 selected and the focus in
    // the entry box, as the search window opens before its start-up clears the search.
    MemoryFace();

    std::u16string Text(std::string_view element) const override;
    void SetEnabled(std::string_view element, bool enabled) override;
    bool IsEnabled(std::string_view element) const override;
    void SetBackColour(std::string_view element, std::uint32_t colour) override;
    void SetFocus(std::string_view element) override;
    void SetChecked(std::string_view option, bool checked) override;
    bool IsChecked(std::string_view option) const override;
    void ClearItems(std::string_view list) override;
    void AddItem(std::string_view list, std::u16string_view item) override;
    std::u16string EditText(std::string_view list) const override;
    void Beep() override;
    void SetClipboardText(std::u16string_view text) override;

    // What the face shows.
    std::optional<std::uint32_t> BackColour(std::string_view element) const;
    const std::string& Focus() const { return focus_; }
    const std::vector<std::u16string>& Items(std::string_view list) const;
    int beeps() const { return beeps_; }
    // Null until something was copied.
    const std::optional<std::u16string>& clipboard() const { return clipboard_; }

protected:
    void WriteText(std::string_view element, std::u16string_view text) override;
    void WriteEditText(std::string_view list, std::u16string_view text) override;

private:
    struct List {
        std::u16string editText;
        std::vector<std::u16string> items;
    };

    std::map<std::string, std::u16string, std::less<>> texts_;
    std::map<std::string, bool, std::less<>> enabled_;
    std::map<std::string, std::uint32_t, std::less<>> colours_;
    std::map<std::string, bool, std::less<>> checked_;
    std::map<std::string, List, std::less<>> lists_;
    std::string focus_;
    int beeps_ = 0;
    std::optional<std::u16string> clipboard_;
};

} // namespace ubin
