// Readings typed in Latin letters, and the Latin form of readings.
#include "base/cp932.h"
#include "base/romaji.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using namespace ubin;

namespace {

// Rows of kana, one per character or yōon pair, beside their spellings separated by blanks.
struct Row { const char16_t* kana; const char* spellings; };

// Hepburn: read by KanaFromRomaji and written by HepburnOf.
const Row kHepburn[] = {
    {u"ア|イ|ウ|エ|オ", "a i u e o"},           {u"カ|キ|ク|ケ|コ", "ka ki ku ke ko"},
    {u"サ|シ|ス|セ|ソ", "sa shi su se so"},     {u"タ|チ|ツ|テ|ト", "ta chi tsu te to"},
    {u"ナ|ニ|ヌ|ネ|ノ", "na ni nu ne no"},      {u"ハ|ヒ|フ|ヘ|ホ", "ha hi fu he ho"},
    {u"マ|ミ|ム|メ|モ", "ma mi mu me mo"},      {u"ヤ|ユ|ヨ|ワ", "ya yu yo wa"},
    {u"ラ|リ|ル|レ|ロ", "ra ri ru re ro"},      {u"ガ|ギ|グ|ゲ|ゴ", "ga gi gu ge go"},
    {u"ザ|ジ|ズ|ゼ|ゾ", "za ji zu ze zo"},      {u"ダ|デ|ド", "da de do"},
    {u"バ|ビ|ブ|ベ|ボ", "ba bi bu be bo"},      {u"パ|ピ|プ|ペ|ポ", "pa pi pu pe po"},
    {u"キャ|キュ|キョ|シャ|シュ|ショ", "kya kyu kyo sha shu sho"},
    {u"チャ|チュ|チョ|ニャ|ニュ|ニョ", "cha chu cho nya nyu nyo"},
    {u"ヒャ|ヒュ|ヒョ|ミャ|ミュ|ミョ", "hya hyu hyo mya myu myo"},
    {u"リャ|リュ|リョ|ギャ|ギュ|ギョ", "rya ryu ryo gya gyu gyo"},
    {u"ジャ|ジュ|ジョ|ビャ|ビュ|ビョ", "ja ju jo bya byu byo"},
    {u"ピャ|ピュ|ピョ|ファ|フィ|シェ|チェ|ジェ", "pya pyu pyo fa fi she che je"},
};

// Keyboard spellings: read only.
const Row kKeyboard[] = {
    {u"シ|チ|ツ|フ|ジ|ヂ|ヅ|ヲ", "si ti tu hu zi di du wo"},
    {u"シャ|シュ|ショ|チャ|チュ|チョ|チャ", "sya syu syo tya tyu tyo cya"},
    {u"ジャ|ジュ|ジョ|ジャ|ヂャ|ヂュ|ヂョ", "zya zyu zyo jya dya dyu dyo"},
    {u"ァ|ィ|ゥ|ェ|ォ|ャ|ュ|ョ|ッ|ッ", "xa li xu le xo xya lyu xyo xtu ltsu"},
    {u"カ|ク|コ|セ|ティ|ディ|ヴ", "ca cu co ce thi dhi vu"},
};

std::vector<std::string> Split(const std::string& text, char by)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, by);) parts.push_back(part);
    return parts;
}

void ExpectRead(const Row& row, bool hepburn)
{
    const std::vector<std::string> kana = Split(ToUtf8(row.kana), '|');
    const std::vector<std::string> spellings = Split(row.spellings, ' ');
    ASSERT_EQ(kana.size(), spellings.size()) << row.spellings;
    for (std::size_t i = 0; i < kana.size(); ++i) {
        EXPECT_EQ(KanaFromRomaji(FromUtf8(spellings[i])), FromUtf8(kana[i])) << spellings[i];
        if (hepburn) {
            EXPECT_EQ(HepburnOf(FromUtf8(kana[i])), spellings[i]) << kana[i];
        }
    }
}

bool HasForm(const std::vector<std::u16string>& forms, std::u16string_view form)
{
    return std::find(forms.begin(), forms.end(), form) != forms.end();
}

} // namespace

TEST(Romaji, EverySyllableIsReadAndWritten)
{
    for (const Row& row : kHepburn) ExpectRead(row, true);
    for (const Row& row : kKeyboard) ExpectRead(row, false);
}

TEST(Romaji, WordsAreReadWhateverTheirCaseMarksAndSeparators)
{
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"ginza", u"ギンザ"},           {u"GINZA", u"ギンザ"},           {u"Ginza", u"ギンザ"},
        {u"ｇｉｎｚａ", u"ギンザ"},       {u"kasumigaseki", u"カスミガセキ"}, {u"shinjuku-ku", u"シンジュクク"},
        {u"Tōkyō", u"トウキョウ"},       {u"Chūō", u"チュウオウ"},        {u"CHÛÔ", u"チュウオウ"},
        {u"tukizi", u"ツキジ"},          {u"tsukiji", u"ツキジ"},         {u"huzi", u"フジ"},
        {u"ziyuugaoka", u"ジユウガオカ"}, {u"jiyu ga oka", u"ジユガオカ"}, {u"kyoto", u"キョト"},
        // ン: apostrophe, nn, n before a consonant or at the end, m before b/m/p.
        {u"kan'i", u"カンイ"},           {u"kani", u"カニ"},              {u"shin'yo", u"シンヨ"},
        {u"shinyo", u"シニョ"},          {u"shin'ei", u"シンエイ"},       {u"kanna", u"カンナ"},
        {u"konnnichiha", u"コンニチハ"}, {u"hon", u"ホン"},               {u"shimbashi", u"シンバシ"},
        // ッ: doubled consonants, tch and cch.
        {u"kitte", u"キッテ"},           {u"sapporo", u"サッポロ"},       {u"matcha", u"マッチャ"},
        {u"maccha", u"マッチャ"},        {u"hokkaido", u"ホッカイド"},
    };
    for (const auto& [romaji, kana] : cases) EXPECT_EQ(KanaFromRomaji(romaji), kana) << ToUtf8(romaji);
}

TEST(Romaji, TextsNoKanaSpellAreRefused)
{
    for (const char16_t* text : {u"xyz", u"qq", u"kk", u"k a", u"ginza1", u"銀座", u"ぎんざ", u"", u" - '"})
        EXPECT_FALSE(KanaFromRomaji(text)) << ToUtf8(text);
}

TEST(Romaji, LongVowelsAreFoundHoweverTheyAreTyped)
{
    for (const char16_t* typed : {u"Chuo", u"Chuuou", u"Chūō", u"tyuuou", u"chuou"}) {
        const std::vector<std::u16string> forms = LongVowelForms(*KanaFromRomaji(typed));
        EXPECT_TRUE(HasForm(forms, u"チュウオウ")) << ToUtf8(typed);
        EXPECT_TRUE(HasForm(forms, u"チュオ")) << ToUtf8(typed);
        EXPECT_EQ(forms.front(), *KanaFromRomaji(typed));
    }
    // o: nothing, ウ or オ; u: nothing or ウ; each form once, the fewest changes first.
    const std::vector<std::u16string> all = LongVowelForms(u"チュオ");
    EXPECT_EQ(all.size(), 6u);
    EXPECT_EQ(std::vector<std::u16string>(all.begin(), all.begin() + 3),
              (std::vector<std::u16string>{u"チュオ", u"チュウオ", u"チュオウ"}));
    EXPECT_EQ(LongVowelForms(u"チュオ", 2).size(), 2u);
    EXPECT_TRUE(HasForm(LongVowelForms(u"オサカ"), u"オオサカ"));
    // A long reading is cut at `most`, not enumerated whole.
    EXPECT_EQ(LongVowelForms(u"トウキョウトトウキョウトトウキョウトトウキョウトトウキョウト", 64).size(), 64u);
}

TEST(Romaji, HepburnDropsLongVowelsAndNotes)
{
    const std::pair<const char16_t*, const char*> cases[] = {
        {u"トウキョウ", "tokyo"},    {u"チュウオウ", "chuo"},      {u"オオサカ", "osaka"},
        {u"ニイガタ", "niigata"},    {u"エイ", "ei"},              {u"カンイ", "kan'i"},
        {u"シンヨウ", "shin'yo"},    {u"シンバシ", "shinbashi"},   {u"マッチャ", "matcha"},
        {u"ホッカイドウ", "hokkaido"}, {u"ラーメン", "ramen"},      {u"ｷﾞﾝｻﾞ", "ginza"},
        {u"ぎんざ", "ginza"},        {u"キタ1ジョウニシ(1-19チョウメ)", "kita1jonishi"},
    };
    for (const auto& [kana, hepburn] : cases) EXPECT_EQ(HepburnOf(kana), hepburn) << hepburn;
}

TEST(Romaji, HepburnIsReadBackToTheReading)
{
    for (const char16_t* reading : {u"トウキョウト", u"チュウオウク", u"カスミガセキ", u"シンジュクク", u"オオサカフ",
                                    u"ホッカイドウ", u"ユウバリグンナガヌマチョウ", u"ジユウガオカ", u"シンエイ",
                                    u"カンイ", u"マッチャ", u"キョウト", u"リュウオウ", u"コオリヤマ",
                                    u"チョウオオトミ", u"ショコツチョウウツツ", u"スウェーデン"}) {
        const std::optional<std::u16string> kana = KanaFromRomaji(FromUtf8(HepburnOf(reading)));
        ASSERT_TRUE(kana) << ToUtf8(reading);
        std::u16string unmarked = reading; // ー is never typed
        std::erase(unmarked, u'ー');
        EXPECT_TRUE(HasForm(LongVowelForms(*kana, 1000), unmarked)) << ToUtf8(reading);
    }
}

TEST(Romaji, AddressesAreWrittenAsRoadSignsWriteThem)
{
    EXPECT_EQ(RomanizedAddress(u"ﾄｳｷｮｳﾄ", u"東京都", u"ﾁｭｳｵｳｸ", u"中央区", u"ｷﾞﾝｻﾞ", u"銀座"), "Ginza, Chuo-ku, Tokyo");
    EXPECT_EQ(RomanizedAddress(u"トウキョウト", u"東京都", u"チュウオウク", u"中央区", u"", u""), "Chuo-ku, Tokyo");
    EXPECT_EQ(RomanizedAddress(u"ホッカイドウ", u"北海道", u"ユウバリグンナガヌマチョウ", u"夕張郡長沼町", u"", u""),
              "Yubari-gun Naganuma-cho, Hokkaido");
    EXPECT_EQ(RomanizedAddress(u"オオサカフ", u"大阪府", u"スイタシ", u"吹田市", u"", u""), "Suita-shi, Osaka");
    EXPECT_EQ(RomanizedAddress(u"カナガワケン", u"神奈川県", u"ハコネマチ", u"箱根町", u"", u""), "Hakone-machi, Kanagawa");
    // The suffix is split off only where both the name and the reading end in it.
    EXPECT_EQ(RomanizedAddress(u"オキナワケン", u"沖縄県", u"ヨミタンソン", u"読谷村", u"", u""), "Yomitan-son, Okinawa");
    EXPECT_EQ(RomanizedAddress(u"トウキョウト", u"東京都", u"ニシトウキョウシ", u"西東京", u"", u""),
              "Nishitokyoshi, Tokyo");
    // A ward is written with its designated city, split where the kana per kanji agree best.
    EXPECT_EQ(RomanizedAddress(u"ヒロシマケン", u"広島県", u"ヒロシマシナカク", u"広島市中区", u"", u""),
              "Hiroshima-shi Naka-ku, Hiroshima");
    EXPECT_EQ(RomanizedAddress(u"カナガワケン", u"神奈川県", u"ヨコハマシニシク", u"横浜市西区", u"", u""),
              "Yokohama-shi Nishi-ku, Kanagawa");
    EXPECT_EQ(RomanizedAddress(u"ミエケン", u"三重県", u"ヨッカイチシ", u"四日市市", u"", u""), "Yokkaichi-shi, Mie");
}
