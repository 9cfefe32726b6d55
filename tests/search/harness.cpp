#include "tests/search/harness.h"

namespace ubin::test {

MiniDirectory HandWritten()
{
    MiniDirectory d;
    d.entries = {
        {"0600000", "01101", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "以下に掲載がない場合", ""},
        {"0600042", "01101", "ｵｵﾄﾞｵﾘﾆｼ", "大通西", "（１～１９丁目）"},
        {"1040061", "13102", "ｷﾞﾝｻﾞ", "銀座", ""},
        {"7300011", "34101", "ﾓﾄﾏﾁ", "基町", ""},
        {"7300012", "34101", "ｶﾐﾊｯﾁｮｳﾎﾞﾘ", "上八丁堀", ""},
        {"7300013", "34101", "ﾊｯﾁｮｳﾎﾞﾘ", "八丁堀", ""},
        {"7300014", "34101", "ｶﾐﾉﾎﾞﾘﾁｮｳ", "上幟町", "（１丁目）", "1"},
        {"7300014", "34101", "ｶﾐﾉﾎﾞﾘﾁｮｳ", "上幟町", "（２丁目）", "1"},
        {"7300015", "34101", "ﾊｼﾓﾄﾁｮｳ", "橋本町", ""},
        {"7300016", "34101", "ﾉﾎﾞﾘﾁｮｳ", "幟町", ""},
    };
    // A building with twelve floors, each its own postal code.
    for (int floor = 0; floor < 12; ++floor) {
        const std::string n = std::to_string(floor);
        d.entries.push_back({"73061" + std::string(floor < 10 ? "0" : "") + n, "34101", "ｷﾘﾋﾞﾙ", "霧ビル",
                             floor == 0 ? "（地階・階層不明）" : "（" + n + "階）", "1"});
    }
    d.entries.insert(d.entries.end(), {
        {"7320000", "34102", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ", "以下に掲載がない場合", ""},
        {"7320052", "34102", "ｲﾁｴﾝ", "一円", ""},
        {"7320053", "34102", "ｵｵｽｶﾞﾁｮｳ", "大須賀町 東", "二丁目 以降"},
        {"9999990", "00000", "ﾌﾒｲ", "不明町", ""},
        {"9999991", "34199", "ﾅｼ", "無市町", ""},
    });
    d.cities = {
        {1101, "1101", "札幌市中央区", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ"},
        {13102, "13102", "中央区", "ﾁｭｳｵｳｸ"},
        {34101, "34101", "広島市中区", "ﾋﾛｼﾏｼﾅｶｸ"},
        {34102, "34102", "広島市東区", "ﾋﾛｼﾏｼﾋｶﾞｼｸ"},
        {34104, "34104", "広島市西区", "ﾋﾛｼﾏｼﾆｼｸ"},
        {35201, "35201", "下関市", "ｼﾓﾉｾｷｼ"},
    };
    d.prefNames.resize(47);
    d.prefKana.resize(47);
    for (int p = 1; p <= 47; ++p) {
        d.prefNames[p - 1] = "県" + std::to_string(p);
        d.prefKana[p - 1] = "ｹﾝ" + std::to_string(p);
    }
    d.prefNames[0] = "北海道", d.prefKana[0] = "ﾎｯｶｲﾄﾞｳ";
    d.prefNames[12] = "東京都", d.prefKana[12] = "ﾄｳｷｮｳﾄ";
    d.prefNames[33] = "広島県", d.prefKana[33] = "ﾋﾛｼﾏｹﾝ";
    d.prefNames[34] = "山口県", d.prefKana[34] = "ﾔﾏｸﾞﾁｹﾝ";
    return d;
}

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
