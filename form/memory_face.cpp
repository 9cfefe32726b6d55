#include "form/memory_face.h"

namespace ubin {

namespace {

struct Caption {
    std::string_view element;
    std::u16string_view text;
};

// The window's design captions.
constexpr Caption kDesignCaptions[] = {
    {"Frame1", u" 検索方法 "},
    {element::kOption1, u"郵便"},
    {element::kOption5, u"選択検索"},
    {element::kOption3, u"町域（ｶﾅ）"},
    {element::kOption4, u"町域（漢字）"},
    {element::kOption2, u"都市"},
    {"Frame2", u" 検索"},
    {element::kLabel1, u"郵便番号 "},
    {element::kITUbin, u"Text1"},
    {element::kLabel5, u"730-0014"},
    {element::kCommand7, u"前候補"},
    {element::kCommand8, u"次候補"},
    {"Frame3", u"選択検索項目 "},
    {"Label11", u"都道府県"},
    {"Label12", u"市区町村"},
    {"Label13", u"町／字"},
    {"Label14", u"地域詳細"},
    {element::kLabel9, u"Label9"},
    {"Label16_0", u"郵便番号"},
    {"Label16_1", u"-"},
    {element::kIT1, u"IT1"},
    {element::kIT2, u"IT2"},
    {"Label10", u"都市コード"},
    {element::kIT6, u"IT6"},
    {"Label17", u"住所"},
    {element::kIT3, u"IT3"},
    {element::kIT4, u"IT4"},
    {"Label15", u"カナ読み"},
    {element::kIT5, u"IT5"},
    {element::kText6, u""},
    {element::kCommand2, u"クリア"},
    {element::kCommand1, u"クリップ"},
};

const std::vector<std::u16string> kNoItems;

} // namespace

MemoryFace::MemoryFace()
{
    for (const Caption& c : kDesignCaptions) texts_.emplace(std::string(c.element), std::u16string(c.text));
    // A list's edit text is its name until something is chosen.
    for (const std::string_view combo : element::kCombos)
        lists_[std::string(combo)].editText.assign(combo.begin(), combo.end());
    checked_[std::string(element::kOption1)] = true;
    focus_ = element::kITUbin;
}

std::u16string MemoryFace::Text(std::string_view element) const
{
    const auto it = texts_.find(element);
    return it == texts_.end() ? std::u16string() : it->second;
}

void MemoryFace::WriteText(std::string_view element, std::u16string_view text)
{
    texts_.insert_or_assign(std::string(element), std::u16string(text));
}

void MemoryFace::SetEnabled(std::string_view element, bool enabled)
{
    enabled_.insert_or_assign(std::string(element), enabled);
}

bool MemoryFace::IsEnabled(std::string_view element) const
{
    const auto it = enabled_.find(element);
    return it == enabled_.end() || it->second;
}

void MemoryFace::SetBackColour(std::string_view element, std::uint32_t colour)
{
    colours_.insert_or_assign(std::string(element), colour);
}

std::optional<std::uint32_t> MemoryFace::BackColour(std::string_view element) const
{
    const auto it = colours_.find(element);
    if (it == colours_.end()) return std::nullopt;
    return it->second;
}

void MemoryFace::SetFocus(std::string_view element) { focus_ = element; }

void MemoryFace::SetChecked(std::string_view option, bool checked)
{
    // Option buttons are exclusive: selecting one clears the others.
    if (checked)
        for (auto& [name, on] : checked_) on = false;
    checked_.insert_or_assign(std::string(option), checked);
}

bool MemoryFace::IsChecked(std::string_view option) const
{
    const auto it = checked_.find(option);
    return it != checked_.end() && it->second;
}

void MemoryFace::ClearItems(std::string_view list)
{
    lists_[std::string(list)].items.clear();
}

void MemoryFace::AddItem(std::string_view list, std::u16string_view item)
{
    lists_[std::string(list)].items.emplace_back(item);
}

void MemoryFace::WriteEditText(std::string_view list, std::u16string_view text)
{
    lists_[std::string(list)].editText = text;
}

std::u16string MemoryFace::EditText(std::string_view list) const
{
    const auto it = lists_.find(list);
    return it == lists_.end() ? std::u16string() : it->second.editText;
}

const std::vector<std::u16string>& MemoryFace::Items(std::string_view list) const
{
    const auto it = lists_.find(list);
    return it == lists_.end() ? kNoItems : it->second.items;
}

void MemoryFace::Beep() { ++beeps_; }

void MemoryFace::SetClipboardText(std::u16string_view text) { clipboard_ = std::u16string(text); }

} // namespace ubin
