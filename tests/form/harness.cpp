#include "tests/form/harness.h"

namespace ubin::test {

Harness::Harness(const MiniDirectory& mini) : temp(std::make_unique<TempDir>())
{
    mini.Write(temp->path());
    Start(temp->DataFolder());
}

Harness::Harness(const std::u16string& dataFolder) { Start(dataFolder); }

void Harness::Start(const std::u16string& dataFolder)
{
    dir.dataFolder = dataFolder;
    dir.StartUp();
    lookup = std::make_unique<Lookup>(dir);
    search = std::make_unique<Search>(face, *lookup, flags);
    search->Start();
}

void Harness::Enter(const std::string& text)
{
    face.SetText(element::kITUbin, FromUtf8(text));
    std::int16_t key = kKeyEnter;
    search->ITUbin_KeyPress(key);
}

void Harness::Choose(int list, const std::string& item)
{
    face.SetEditText(element::kCombos[list - 1], FromUtf8(item));
    switch (list) {
    case 1: search->Combo1_Click(); break;
    case 2: search->Combo2_Click(); break;
    case 3: search->Combo3_Click(); break;
    default: search->Combo4_Click(); break;
    }
}

std::vector<std::string> Harness::Items(std::string_view list) const
{
    std::vector<std::string> out;
    for (const auto& i : face.Items(list)) out.push_back(ToUtf8(i));
    return out;
}

std::int32_t Harness::FirstRecordWith(int k, const std::string& prefix)
{
    const std::u16string p = FromUtf8(prefix);
    for (std::int32_t r = 1; r <= dir.RecordCount(k); ++r)
        if (dir.ReadIndexRecord(k, r).key.compare(0, p.size(), p) == 0) return r;
    return 0;
}

std::string Harness::PostalCodeOfRecord(int k, std::int32_t r)
{
    return ToUtf8(dir.ReadPostalEntry(dir.ReadIndexRecord(k, r).entryNumber).postalCode);
}

} // namespace ubin::test
